// main.cpp - the program's entry.
int TarpelixMain();
int main() { return TarpelixMain(); }
