#pragma once

// The binary search the program uses over its sorted lists: the frontmost of equal
// entries wins, because the search goes on to the left after a match.

#include <cstddef>
#include <vector>

// orden(entry) < 0 when the entry sorts before what is sought, 0 when it is equal.
template <class T, class Orden>
std::ptrdiff_t BuscarPrimero(const std::vector<T>& lista, Orden orden) {
  std::ptrdiff_t found = -1;
  std::ptrdiff_t low = 0, high = static_cast<std::ptrdiff_t>(lista.size()) - 1;
  while (low <= high) {
    const std::ptrdiff_t middle = (low + high) / 2;
    const int order = orden(lista[static_cast<std::size_t>(middle)]);
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle - 1;
      if (order == 0) found = middle;
    }
  }
  return found;
}
