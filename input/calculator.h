#pragma once
#include <string>
std::string Calculator();  // the pop-up adding machine (Alt+X); result typed into the field
