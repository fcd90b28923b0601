#include "Display.hpp"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <libtcod.hpp>

#include <libtcod/tileset.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

namespace {
constexpr int kDisplayAttempts = 6;
constexpr Uint32 kDisplayRetryMs = 100;
bool presenting = true;
std::function<void()> presenter;
bool presenterOnly = false;
constexpr const char* kIconName = "vesperdeep.png";

// The icon image in `file` as an RGBA surface, or null. libtcod decodes the PNG, alpha and all,
// as a tileset of one tile.
SDL_Surface* loadIcon(const std::string& file) {
  if (std::FILE* probe = std::fopen(file.c_str(), "rb"); probe != nullptr) {
    std::fclose(probe);
  } else {
    return nullptr;  // not there: libtcod would complain on the way
  }
  const int firstCode = 0;
  TCOD_Tileset* tileset = TCOD_tileset_load(file.c_str(), 1, 1, 1, &firstCode);
  if (tileset == nullptr) return nullptr;
  const int width = TCOD_tileset_get_tile_width_(tileset);
  const int height = TCOD_tileset_get_tile_height_(tileset);
  SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_RGBA32);
  if (icon != nullptr &&
      TCOD_tileset_get_tile_(tileset, 0, static_cast<TCOD_ColorRGBA*>(icon->pixels)) < 0) {
    SDL_FreeSurface(icon);
    icon = nullptr;
  }
  TCOD_tileset_delete(tileset);
  return icon;
}
// Runs `work` with stderr going to a scratch file, and returns what was written there: the
// display libraries print their complaints straight to stderr, often once per attempt.
std::string capturingStderr(const std::function<void()>& work) {
  std::fflush(stderr);
  const int scratch = memfd_create("vesperdeep-stderr", MFD_CLOEXEC);
  const int saved = scratch < 0 ? -1 : dup(STDERR_FILENO);
  if (saved < 0 || dup2(scratch, STDERR_FILENO) < 0) {
    if (saved >= 0) close(saved);
    if (scratch >= 0) close(scratch);
    work();
    return {};
  }
  work();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string text;
  char buffer[512];
  ssize_t got = 0;
  lseek(scratch, 0, SEEK_SET);
  while (text.size() < 4096 && (got = read(scratch, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(got));
  close(scratch);
  return text;
}

// The first line of what a library printed, without its line end.
std::string firstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

enum class XAnswer { Accepted, Refused, Silent };

// Knocks at the X server at `display` the way SDL will: it lets this program in, refuses it
// (`reason`: what the server said), or nobody answers.
XAnswer knockAtX(const char* display, std::string& reason) {
  bool failed = false;
  reason = firstLine(capturingStderr([&] {
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
  }));
  if (!failed) return XAnswer::Accepted;
  return reason.empty() ? XAnswer::Silent : XAnswer::Refused;
}

// Why the X server at `display` cannot be used, or an empty string when it lets the game in.
// A server that is starting, or resetting after its last client left, is silent for a moment:
// it gets half a second. A refusal is final.
std::string waitForX(const char* display) {
  for (int attempt = 0; attempt < kDisplayAttempts; ++attempt) {
    if (attempt > 0) SDL_Delay(kDisplayRetryMs);
    std::string reason;
    switch (knockAtX(display, reason)) {
      case XAnswer::Accepted:
        return {};
      case XAnswer::Refused: {
        const passwd* user = getpwuid(geteuid());
        return std::string("not authorised to use the X display ") + display + " (it said: \"" +
               reason + "\"); set XAUTHORITY to the display owner's authority file, or let " +
               "this user in with xhost +SI:localuser:" +
               (user != nullptr ? user->pw_name : "NAME");
      }
      case XAnswer::Silent:
        break;
    }
  }
  return std::string("no display (no X server answers at DISPLAY=") + display + ")";
}

// Why the Wayland compositor named `name` cannot be reached, or an empty string when its
// socket is there.
std::string whyNoWayland(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (name.front() != '/' && (runtime == nullptr || *runtime == '\0')) {
    return "no display (WAYLAND_DISPLAY=" + name + " but XDG_RUNTIME_DIR is not set)";
  }
  const std::string socket = name.front() == '/' ? name : std::string(runtime) + "/" + name;
  struct stat info {};
  if (::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return {};
  return "no display (no Wayland compositor at WAYLAND_DISPLAY=" + name + ": no socket " + socket +
         ")";
}

// Starts SDL's video, its noise captured, and returns an empty string once it has a driver
// that shows windows; otherwise "no display (`silence`)" after half a second of attempts.
std::string startVideo(const std::string& silence) {
  for (int attempt = 0; attempt < kDisplayAttempts; ++attempt) {
    if (attempt > 0) SDL_Delay(kDisplayRetryMs);
    int status = 0;
    capturingStderr([&] { status = SDL_InitSubSystem(SDL_INIT_VIDEO); });
    if (status != 0) continue;
    const char* driver = SDL_GetCurrentVideoDriver();
    const bool windowless = driver == nullptr || std::strcmp(driver, "offscreen") == 0 ||
                            std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "evdev") == 0;
    if (!windowless) return {};
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  return "no display (" + silence + ")";
}
// ---- The X window ------------------------------------------------------------------------------
// Xlib's own handler reports an X error in six lines and ends the program; a window destroyed
// from outside (xdotool windowclose, a crashed window manager) is exactly such an error.

::Window xWindow = 0;  // the game's window, when it is an X window
bool xWindowGone = false;
bool xErrorReported = false;

int onXError(::Display* connection, XErrorEvent* error) {
  if (xWindowGone) return 0;  // every request about the window fails now; nothing more to say
  // BadWindow, BadDrawable or an extension's own (GLXBadDrawable) about the game's window: the
  // window is gone.
  const bool aboutTheWindow = error->resourceid == xWindow &&
                              (error->error_code == BadWindow || error->error_code == BadDrawable ||
                               error->error_code >= 128);
  if (aboutTheWindow) {
    xWindowGone = true;
    SDL_Event quit{};
    quit.type = SDL_QUIT;  // the game ends as if its close button was pressed
    SDL_PushEvent(&quit);
    return 0;
  }
  if (!xErrorReported) {
    xErrorReported = true;
    char text[160] = "";
    XGetErrorText(connection, error->error_code, text, sizeof text);
    std::fprintf(stderr, "vesperdeep: the X server refused a request (%s); going on\n", text);
  }
  return 0;
}
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
    int status = 0;
    const std::string noise =
        firstLine(capturingStderr([&] { status = SDL_InitSubSystem(SDL_INIT_VIDEO); }));
    if (status == 0) return {};
    return std::string("SDL cannot start its video driver ") + requested + ": " + SDL_GetError() +
           (noise.empty() ? "" : " (" + noise + ")");
  }
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool hasX11 = x11 != nullptr && *x11 != '\0';
  const bool hasWayland = wayland != nullptr && *wayland != '\0';
  if (!hasX11 && !hasWayland) return "no display (DISPLAY is not set)";
  const std::string noWayland = hasWayland ? whyNoWayland(wayland) : std::string("unset");
  if (!noWayland.empty() && !hasX11) return noWayland;
  if (!noWayland.empty()) {
    // Only X is named: without this SDL would go on to try Wayland, whose library complains
    // on stderr, and then fall back to a windowless driver.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    if (std::string refusal = waitForX(x11); !refusal.empty()) return refusal;
  }
  return startVideo(hasX11 ? std::string("no X server answers at DISPLAY=") + x11
                           : std::string("no Wayland compositor answers at WAYLAND_DISPLAY=") +
                                 wayland);
}

void setWindowIcon() {
  SDL_Window* window = TCOD_sys_get_SDL_window();
  char* base = SDL_GetBasePath();
  if (window == nullptr || base == nullptr) return;
  const std::string dir(base);
  SDL_free(base);
  for (const std::string& file :
       {dir + kIconName, dir + "../share/icons/hicolor/64x64/apps/" + kIconName}) {
    if (SDL_Surface* icon = loadIcon(file); icon != nullptr) {
      SDL_SetWindowIcon(window, icon);
      SDL_FreeSurface(icon);
      return;
    }
  }
}

void watchWindow() {
  SDL_Window* window = TCOD_sys_get_SDL_window();
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (window == nullptr || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
    return;
  xWindow = info.info.x11.window;
  XSetErrorHandler(onXError);
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
