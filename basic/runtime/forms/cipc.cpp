// The pipe and semaphore slots of a CM. Nothing in the run-time opens them; they are kept closed
// (-1) from creation, and releasing finds them closed or closes what a later user opened.
#include <cerrno>
#include <unistd.h>

#include "cmatrix.h"
#include "message.h"

void cipc_sem_remove(int) {}

void cipc_close_pipe_for_reading(int *fd)
{
    if (*fd < 0) return;
    const int descriptor = *fd;
    *fd = -1;
    if (close(descriptor) != 0) Abort("Error %d occurred when attempting to close read end of pipe", errno);
}

void cipc_release(ControlMatrix_t *cm)
{
    if (cm->sem_id != -1) cipc_sem_remove(cm->sem_id);
    cm->sem_id = -1;
    cipc_close_pipe_for_reading(&cm->pipe_read_fd);
}
