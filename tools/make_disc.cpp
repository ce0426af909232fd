#include "disc_builder.h"

int main() { return 0; }
