#include "App.hpp"

int main() {
  App app;
  if (!app.started) return 1;  // no usable font sheet; the reason has been printed
  app.run();
  return 0;
}
