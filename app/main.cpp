#include <cstdio>

// The window comes with the user-interface layer; until then the program says so.
int main() {
  std::puts("Tavrune v2.1: no window yet. Run `make test` to exercise the audio pipeline.");
  return 0;
}
