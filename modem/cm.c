/*
 * cm.c - the card stages and the CIS reader.
 */
#include "cm.h"
