// program.cpp - the main sequence (placeholder until the start-up is built).
int TarpelixMain() { return 0; }
