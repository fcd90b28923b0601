#include "Display.hpp"

#include <SDL.h>
#include <libtcod.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace {
constexpr int kDisplayAttempts = 6;
constexpr Uint32 kDisplayRetryMs = 100;
bool presenting = true;
std::function<void()> presenter;
bool presenterOnly = false;
}  // namespace

namespace display {

void flush() {
  if (!presenting) return;
  if (!presenterOnly || !presenter) TCODConsole::flush();
  if (presenter) presenter();
}

void setPresenting(bool on) {
  presenting = on;
}

std::string whyNoWindow() {
  const char* requested = std::getenv("SDL_VIDEODRIVER");
  if (requested != nullptr && *requested != '\0') {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) return {};
    return std::string("SDL cannot start its video driver ") + requested + ": " + SDL_GetError();
  }
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool hasX11 = x11 != nullptr && *x11 != '\0';
  const bool hasWayland = wayland != nullptr && *wayland != '\0';
  if (!hasX11 && !hasWayland) return "no display (DISPLAY is not set)";
  // Only X is named: without this SDL would go on to try Wayland, whose library complains on
  // stderr, and then fall back to a windowless driver.
  if (!hasWayland) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
  // A display server that is starting, or resetting after its last client left, refuses
  // connections for a moment: it gets half a second before the game gives up on it.
  for (int attempt = 0; attempt < kDisplayAttempts; ++attempt) {
    if (attempt > 0) SDL_Delay(kDisplayRetryMs);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) continue;
    const char* driver = SDL_GetCurrentVideoDriver();
    const bool windowless = driver == nullptr || std::strcmp(driver, "offscreen") == 0 ||
                            std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "evdev") == 0;
    if (!windowless) return {};
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  if (hasX11) return std::string("no display (no X server answers at DISPLAY=") + x11 + ")";
  return std::string("no display (no Wayland compositor answers at WAYLAND_DISPLAY=") + wayland +
         ")";
}

void setPresenter(std::function<void()> observer, bool insteadOfWindow) {
  presenter = std::move(observer);
  presenterOnly = insteadOfWindow;
}

TCODColor faded(const TCODColor& colour, const TCODColor& towards, int fade) {
  if (fade >= 255) return colour;
  const auto mix = [fade](int to, int from) {
    return static_cast<std::uint8_t>(to + (from - to) * fade / 255);
  };
  return {mix(towards.r, colour.r), mix(towards.g, colour.g), mix(towards.b, colour.b)};
}

bool FramePacer::due(int fade) {
  const auto now = Clock::now();
  if (fade == 255) {
    nextFadeStep = 255 - kFadeStride;
    return now - lastSent >= kFrameGap;
  }
  // The fade: the steps nextFadeStep, nextFadeStep - kFadeStride, ..., each shown for kFrameGap.
  if (fade > nextFadeStep) return false;
  if (now - lastSent < kFrameGap) std::this_thread::sleep_for(kFrameGap - (now - lastSent));
  fadeStep = fade;
  return true;
}

void FramePacer::sent(Clock::time_point start) {
  lastSent = Clock::now();
  if (fadeStep < 0) return;
  // A frame that took longer than the gap to leave: the link is slow, skip more steps.
  const int strides = 1 + static_cast<int>((lastSent - start) / kFrameGap);
  nextFadeStep = fadeStep - strides * kFadeStride;
  if (nextFadeStep < 0 && fadeStep > 0) nextFadeStep = 0;  // the last, black step is always shown
  fadeStep = -1;
}

}  // namespace display
