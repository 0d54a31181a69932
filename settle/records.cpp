// records.cpp - the record variables.
#include "settle/records.h"

unsigned char THRebut[24];
unsigned char FinquesH[388];
unsigned char FinDespH[604];
unsigned char PropietH[428];
unsigned char PagamH[44];
unsigned char CobramH[24];
