/*
 * ntpcic.c - timed waits and socket controller programming.
 */
#include "ntpcic.h"
