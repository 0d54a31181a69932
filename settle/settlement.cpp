// settlement.cpp - the dialogue loop and the settlement pass.
#include "settle/settlement.h"

float IvaRate[2] = {0, 0};
float RetRate[2] = {0, 0};

void CreateWorkTables() {}

void RunSettlement() {}
