/* Nothing but the header, as a reader's first include under strict C99. */
#include "quorlix/shm.h"

int main(void) { return 0; }
