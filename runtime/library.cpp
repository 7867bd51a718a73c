#include "runtime/library.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <numbers>
#include <system_error>

#include "runtime/log.h"
#include "runtime/paths.h"
#include "runtime/random.h"

namespace rv {
namespace {

std::atomic<bool> resyncRequested{false};

bool isFolder(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_directory(p, ec);
}

std::string executablePath() {
    std::error_code ec;
    const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

void logGpuInfo(const GpuInfo& gpu) {
    LogLine("KZ.GPU_Info.VertexBlendMatrices %d", gpu.vertexBlendMatrices);
    LogLine("KZ.GPU_Info.VertexBlendMatrixIndex %d", gpu.vertexBlendMatrixIndex);
    LogLine("KZ.GPU_Info.PrimitiveCount %d", gpu.primitiveCount);
    LogLine("KZ.GPU_Info.VertexIndex %d", gpu.vertexIndex);
    int geForce = gpu.vertexBlendMatrices == 0 ? 0 : 1;
    if (gpu.vertexShaderLevel >= 1)
        geForce = 3;
    if (gpu.vertexShaderLevel >= 2)
        geForce = 5;
    if (gpu.vertexShaderLevel >= 3)
        geForce = 6;
    if (gpu.vertexShaderLevel >= 4)
        geForce = 8;
    LogLine("KZ.GPU_Info.GeForce %d", geForce);
    LogLine("KZ.GPU_Info.VertexShaderVersion %d", gpu.vertexShaderLevel);
    LogLine("KZ.GPU_Info.PixelShaderVersion   %d", gpu.pixelShaderLevel);
}

}  // namespace

LibraryState& lib() {
    static LibraryState state;
    return state;
}

void resetLibraryState() {
    lib() = LibraryState{};
    resyncRequested = false;
}

std::string LibVersion() {
    char text[16];
    std::snprintf(text, sizeof text, "%4.4lf", 2015.0504);
    return text;
}

std::string findDataFolder(const std::string& exe) {
    const std::filesystem::path folder = std::filesystem::path(exe).parent_path();
    const auto beside = folder / "Data";
    if (isFolder(beside))
        return beside.string();
    const auto installed = (folder / ".." / "share" / "revizevoz" / "Data").lexically_normal();
    if (isFolder(installed))
        return installed.string();
    return beside.string();
}

bool LibInit(RenderDevice& device, const LibOptions& options) {
    LibraryState& s = lib();
    LogLine("VUruduz %s", LibVersion().c_str());
    s.device = nullptr;
    s.windowed = true;
    s.active = false;
    s.deviceLost = false;
    s.deviceObjectsInited = s.deviceObjectsRestored = false;
    s.frameMoving = true;
    s.singleStep = false;

    s.screenWidth = device.screenWidth();
    s.screenHeight = device.screenHeight();
    LogLine("モニター %d×%d", s.screenWidth, s.screenHeight);
    s.windowWidth = std::max(1, options.width);
    s.windowHeight = std::max(1, options.height);
    if (s.screenWidth > 0)
        s.windowWidth = std::min(s.windowWidth, s.screenWidth);
    if (s.screenHeight > 0)
        s.windowHeight = std::min(s.windowHeight, s.screenHeight);

    seedRandom(std::uint32_t(std::time(nullptr)));

    if (!device.create(s.windowWidth, s.windowHeight)) {
        ErrorMessage(0x82000001, 1);
        return false;
    }
    s.device = &device;
    s.deviceObjectsInited = true;
    restoreLibraryDeviceObjects();

    s.dataFolder = findDataFolder(options.executablePath.empty() ? executablePath() : options.executablePath);
    if (options.enterDataFolder) {
        std::error_code ec;
        std::filesystem::current_path(s.dataFolder, ec);  // a missing folder only loses the null texture
    }

    if (auto image = LoadTexture(joinPath(s.dataFolder, "System/tex_null.bmp"))) {
        s.nullTexture = std::move(*image);
    } else {
        LogLine("*** LoadError *** Data/System/tex_null.bmp");
        s.nullTexture = Image{1, 1, {255, 255, 255, 255}};
    }

    LogLine("KZ.WinVer %d", 0);  // no Windows version here; the start-up log keeps its line
    logText(device.adapterDescription());

    s.gpuInfo = device.gpuInfo();
    logGpuInfo(s.gpuInfo);
    s.antiAliasOn = s.gpuInfo.vertexBlendMatrices != 0 && s.gpuInfo.vertexShaderLevel >= 1;
    // A reference (software) device turns anti-aliasing off; F2 can still turn it on.
    if (device.software())
        s.antiAliasOn = false;

    s.ambient = {0.125f, 0.125f, 0.125f, 1.0f};
    s.clearColour = {0, 0, 0};
    s.lightOn = true;

    WindowSizeUpdate();

    s.antiAliasSupported = device.supportsSamples(4);
    LogLine(s.antiAliasSupported ? "アンチエイリアス 対応( 4 Sample )" : "アンチエイリアス 未対応( 4 Sample )");
    AntiAliasSet(s.antiAliasOn);

    s.fadeSpeed = 0.03f;
    s.active = s.pauseCount == 0;
    ResyncTiming();

    LogLine("KZ.LibInit() 初期化 終了");
    logText(std::string(71, '-'));
    return true;
}

void ResyncTiming() { resyncRequested = true; }

bool takeResyncRequest() { return resyncRequested.exchange(false); }

void Pause(bool pause) {
    LibraryState& s = lib();
    if (pause)
        ++s.pauseCount;
    else if (s.pauseCount > 0)  // an unmatched unpause must not leave the loop blocked for good
        --s.pauseCount;
    s.active = s.pauseCount == 0 && s.device != nullptr;
    if (s.active)
        ResyncTiming();
}

void SetClearColour(int r, int g, int b) { lib().clearColour = {r, g, b}; }

void restoreLibraryDeviceObjects() {
    LibraryState& s = lib();
    if (!s.device)
        return;
    const int w = s.device->backBufferWidth(), h = s.device->backBufferHeight();
    const float aspect = h > 0 ? float(w) / float(h) : 1.0f;
    s.projection = perspectiveFovLH(std::numbers::pi_v<float> / 4, aspect, 0.1f, 65536.0f);
    s.deviceObjectsRestored = true;
}

bool resetDeviceAndRestore() {
    LibraryState& s = lib();
    if (!s.device)
        return true;
    s.deviceObjectsRestored = false;
    if (!s.device->reset(s.device->backBufferWidth(), s.device->backBufferHeight())) {
        ErrorMessage(0x8200000C, 1);
        return false;
    }
    restoreLibraryDeviceObjects();
    if (!s.frameMoving)
        s.singleStep = true;
    return true;
}

void AntiAliasSet(bool on) {
    LibraryState& s = lib();
    if (s.windowed) {
        s.antiAliasOn = on && s.antiAliasSupported;
        if (s.device) {
            s.device->setSamples(s.antiAliasOn ? 4 : 0);
            resetDeviceAndRestore();
        }
    } else {
        s.antiAliasOn = false;
    }
    LogLine(s.antiAliasOn ? "アンチエイリアス ON" : "アンチエイリアス OFF");
}

void V_SyncSet(bool on) {
    LibraryState& s = lib();
    LogLine(on ? "垂直同期を待つ KZ.V_SyncSet()" : "垂直同期を待たない KZ.V_SyncSet()");
    s.vSync = on;
    if (s.windowed && s.device) {
        s.device->setSwapInterval(on ? 1 : 0);
        resetDeviceAndRestore();
    }
    ResyncTiming();
}

void CPU_PossessionSet(bool on) {
    lib().cpuPossession = on;
    LogLine(on ? "CPU占有する KZ.CPU_PossessionSet()" : "CPU占有しない KZ.CPU_PossessionSet()");
}

void WindowSizeUpdate() {
    LibraryState& s = lib();
    if (s.device) {
        s.windowWidth = s.device->backBufferWidth();
        s.windowHeight = s.device->backBufferHeight();
    }
    LogLine("WindowSize %d×%d", s.windowWidth, s.windowHeight);
}

void WindowResized(int clientWidth, int clientHeight, bool minimised) {
    LibraryState& s = lib();
    if (minimised || !s.device || clientWidth <= 0 || clientHeight <= 0)
        return;
    if (clientWidth != s.device->backBufferWidth() || clientHeight != s.device->backBufferHeight()) {
        s.deviceObjectsRestored = false;
        if (!s.device->reset(clientWidth, clientHeight)) {
            ErrorMessage(0x8200000C, 1);
            return;
        }
        restoreLibraryDeviceObjects();
    }
    WindowSizeUpdate();
}

int clientHeightFor(int width) { return int((std::int64_t(width) * 9 + 8) / 16); }

}  // namespace rv
