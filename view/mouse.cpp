#include "app/Nolari.h"

// Mouse handling is not built yet.
void Nolari::mouse(int, int, int, int) {}
void Nolari::motion(int, int) {}
void Nolari::seekGroup(double) {}
void Nolari::seekMarker(double) {}
