#include "disc_builder.h"
