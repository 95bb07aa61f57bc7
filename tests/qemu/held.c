/* Prints each System V semaphore that is held (its value not 0): "semaphore KEY held". */
#include <stdio.h>
#include <sys/sem.h>

int main(void)
{
    struct seminfo info;
    int last = semctl(0, 0, SEM_INFO, &info); /* the highest index in use */
    for (int i = 0; i <= last; ++i) {
        struct semid_ds ds;
        int id = semctl(i, 0, SEM_STAT, &ds);
        if (id >= 0 && semctl(id, 0, GETVAL) != 0)
            printf("semaphore %x held\n", (unsigned)ds.sem_perm.__key);
    }
    return 0;
}
