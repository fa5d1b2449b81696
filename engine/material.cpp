// The material index of a configuration; the table itself is built by the
// evaluation at start-up.
#include "engine/material.h"

int MaterialTable::Index(int wQ, int bQ, int wR, int bR, int wB, int bB, int wN, int bN, int wP,
                         int bP) {
  if (wQ > 1 || bQ > 1 || wR > 2 || bR > 2 || wB > 2 || bB > 2 || wN > 2 || bN > 2) return -1;
  return bP * 1 + wP * 9 + bN * 81 + wN * 243 + bB * 729 + wB * 2187 + bR * 6561 + wR * 19683 +
         bQ * 59049 + wQ * 118098;
}
