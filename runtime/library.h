// The runtime library: one process-wide state (device, timing, input, transforms, light), its
// start-up, the device settings and the device error messages. The input events, transforms and
// random numbers that work on it have modules of their own. All of it runs on the main thread,
// except ResyncTiming, which any thread may call.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "runtime/device.h"
#include "runtime/image.h"
#include "runtime/input.h"
#include "runtime/matrix.h"

namespace rv {

inline constexpr const char* kLibCaption = "REVizevoz 2015";

struct LibraryState {
    RenderDevice* device = nullptr;  // set by LibInit; the host owns it
    bool windowed = true;
    bool active = false;  // true while pauseCount is 0 and a device exists
    int pauseCount = 0;
    bool deviceLost = false;
    bool deviceObjectsInited = false, deviceObjectsRestored = false;
    bool frameMoving = true;
    bool singleStep = false;
    int windowWidth = 1280, windowHeight = 720;  // the back-buffer size once a device exists
    int screenWidth = 0, screenHeight = 0;
    std::string frameStats;  // at most 89 characters
    std::string dataFolder;
    Image nullTexture;  // drawn for untextured and failed materials
    bool antiAliasSupported = false, antiAliasOn = false;
    bool cpuPossession = false;
    bool vSync = true;
    GpuInfo gpuInfo;
    std::array<std::uint8_t, 256> keyState{};  // 1 while down, by Windows virtual-key code
    std::array<std::uint8_t, 256> keyEdge{};  // kKeyIdle .. kKeyReleased
    MouseState mouse;
    float fade = 0, fadeSpeed = 0.03f;
    std::array<float, 4> ambient{0.125f, 0.125f, 0.125f, 1.0f};
    std::array<int, 3> clearColour{0, 0, 0};
    bool lightOn = true;
    Vec3 lightPosition{0, 0, -15};
    Vec3 lightColour{1, 1, 1};

    // The effect path: off in the converter until the user switches it on; a context without a
    // floating-point shadow map turns it off for good.
    bool shaderMode = false;
    bool bloomOn = false;
    float bloomPower = 0.5f;
    int postEffect = 0;  // 0..6: the 2-D technique that finishes the frame
    std::array<float, 3> effect2D{0, 0, 0};  // "op" of the 2-D effect

    // The transforms the drawing sets; ProjectToScreen multiplies them.
    Vec3 eye{0, 0, -15}, lookAt{0, 0, 0}, up{0, 1, 0};
    Mat4 world = kIdentity;
    Mat4 view = lookAtLH({0, 0, -15}, {0, 0, 0}, {0, 1, 0});
    Mat4 projection = kIdentity;

    // Frame loop. With these defaults every pass runs exactly one update step.
    int targetRate = 0;  // update steps per second
    double speed = 0;  // accumulator growth per pass (or per step amount)
    bool variableStep = false;  // grow by speed x targetRate x elapsed instead of by speed
    bool pacing = false;  // wait out 1 / targetRate between passes
    double accumulator = 0;
    double lastFrameTime = 0, elapsed = 0;

    // Statistics.
    int statsFrames = 0;
    double statsTime = 0;
    double fps = 0;

    bool mustExitShown = false;
    std::function<void()> closeHandler;  // kind-1 errors ask the host to close through it
};

// The one library state.
LibraryState& lib();
// Back to the state before LibInit (tests; the host before a second LibInit).
void resetLibraryState();

struct LibOptions {
    std::string executablePath;  // empty: /proc/self/exe
    int width = 1280, height = 720;  // requested client size, clamped to the screen
    bool enterDataFolder = true;  // make the data folder the current directory
};

// "2015.0504".
std::string LibVersion();

// Starts the library on `device` (which must outlive it): screen size, device creation, data
// folder, null texture, GPU information, window size, anti-aliasing. False when the context
// cannot be created; error 0x82000001 has then been shown.
bool LibInit(RenderDevice& device, const LibOptions& options = {});

// The data folder for an executable: "Data" beside it when that is a folder, else the install's
// "../share/revizevoz/Data" when that is one, else the one beside it.
std::string findDataFolder(const std::string& executablePath);

// Shows the message for a device error code. kind 0 warns, 1 must exit (the close handler
// runs), 2 tells of the switch to the reference rasterizer. After one must-exit message nothing
// more is shown. Returns `code`.
std::uint32_t ErrorMessage(std::uint32_t code, int kind);
// The text for `code` (the generic text for unknown codes).
std::string errorText(std::uint32_t code);
// Installs what a must-exit message calls to close the window.
void setCloseHandler(std::function<void()> handler);

// The next loop pass takes the current time as the last frame time, with zero elapsed time.
void ResyncTiming();
// Returns and clears the resynchronisation request.
bool takeResyncRequest();

// Nests pause requests; frames run only while none is open.
void Pause(bool pause);
void SetClearColour(int r, int g, int b);
// 4-sample multisampling when supported; the device is reset.
void AntiAliasSet(bool on);
// Swap interval 1 when on, 0 when off; the device is reset.
void V_SyncSet(bool on);
void CPU_PossessionSet(bool on);
// Takes the back-buffer size as the window size.
void WindowSizeUpdate();
// The host's client area changed: resets the device to the new size unless minimised.
void WindowResized(int clientWidth, int clientHeight, bool minimised);
// The client height that keeps the area at 16:9 of `width`, rounded to the nearest pixel.
int clientHeightFor(int width);

// Resets the back buffer at the current window size and restores the library's device objects
// (the projection). A failure shows error 0x8200000C as must-exit and returns false.
bool resetDeviceAndRestore();
// Sets the projection for the back buffer: vertical field of view pi/4, near 0.1, far 65536.
void restoreLibraryDeviceObjects();

}  // namespace rv
