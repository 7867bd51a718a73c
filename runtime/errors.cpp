#include <cstdint>
#include <string>

#include "runtime/library.h"
#include "runtime/log.h"

namespace rv {
namespace {

// A driver fault is never survivable, whatever kind the caller asked for.
constexpr std::uint32_t kDriverInternalError = 0x88760827;

}  // namespace

std::string errorText(std::uint32_t code) {
    switch (code) {
    case 0x8007000E: return "Not enough memory.";
    case 0x82000001:
        return "Could not initialize Direct3D. You may\nwant to check that the latest version of\nDirectX is "
               "correctly installed on your\nsystem.  Also make sure that this program\nwas compiled with header "
               "files that match\nthe installed DirectX DLLs.";
    case 0x82000003:
        return "ビデオカードが、DirectX 9 に対応していない可能性があります。\n使用できる Direct3D "
               "デバイスが、見つかりませんでした。";
    case 0x82000004:
        return "This sample cannot run in a desktop\nwindow with the current display settings.\nPlease change "
               "your desktop settings to a\n16- or 32-bit display mode and re-run this\nsample.";
    case 0x82000005: return "No hardware-accelerated Direct3D devices\nwere found.";
    case 0x82000006:
        return "This sample requires functionality that is\nnot available on your Direct3D hardware\naccelerator.";
    case 0x82000007:
        return "Your Direct3D hardware accelerator cannot\nrender into a window.\nPress F2 while the app is "
               "running to see a\nlist of available devices and modes.";
    case 0x82000008:
        return "Your Direct3D hardware accelerator cannot\nrender into a window with the current\ndesktop display "
               "settings.\nPress F2 while the app is running to see a\nlist of available devices and modes.";
    case 0x82000009:
        return "This sample requires functionality that is\nnot available on your Direct3D hardware\naccelerator "
               "with the current desktop display\nsettings.\nPress F2 while the app is running to see a\nlist of "
               "available devices and modes.";
    case 0x8200000A:
        return "A D3D object has a non-zero reference\ncount (meaning things were not properly\ncleaned up).";
    case 0x8200000B: return "Could not load required media.";
    case 0x8200000C: return "Could not reset the Direct3D device.";
    case 0x8200000D: return "ビデオカードが、DirectX 9 に対応していない可能性があります。\nD3DAPPERR_NULLREFDEVICE";
    case 0x8876017C: return "Not enough video memory.";
    case kDriverInternalError: return "A serious problem occured inside the display driver.";
    default: return "Generic application error. Enable\ndebug output for detailed information.";
    }
}

std::uint32_t ErrorMessage(std::uint32_t code, int kind) {
    LibraryState& s = lib();
    if (s.mustExitShown)
        return code;
    if (code == kDriverInternalError)
        kind = 1;
    std::string text = errorText(code);
    if (kind == 2)
        text += "\n\nSwitching to the reference rasterizer,\na software device that implements the entire\n"
                "Direct3D feature set, but runs very slowly.";
    if (kind == 1)
        s.mustExitShown = true;
    ShowMessage("", text);
    if (kind == 1 && s.closeHandler)
        s.closeHandler();
    return code;
}

void setCloseHandler(std::function<void()> handler) { lib().closeHandler = std::move(handler); }

}  // namespace rv
