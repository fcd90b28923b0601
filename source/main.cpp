#include <cstdio>
#include <exception>

#include "App.hpp"

int main() {
  try {
    App app;
    if (!app.started) return 1;  // no font sheet or no window; the reason has been printed
    app.run();
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vesperdeep: %s\n", error.what());
    return 1;
  }
}
