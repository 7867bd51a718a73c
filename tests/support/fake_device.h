// A render device without a GPU: it records what the runtime asks of it and fails on request.
#pragma once

#include <string>

#include "runtime/device.h"

namespace rv::test {

class FakeDevice : public RenderDevice {
public:
    bool createFails = false;
    bool resetFails = false;
    bool presentFails = false;  // the next present reports a lost context, once
    DeviceStatus nextStatus = DeviceStatus::Ready;
    bool samplesSupported = true;
    GpuInfo gpu{4, 255, 1000000, 16777215, 4, 4};

    int width = 0, height = 0;
    int sampleCount = 0, swapInterval = 1;
    int creates = 0, resets = 0, presents = 0;

    bool create(int w, int h) override {
        ++creates;
        if (createFails)
            return false;
        width = w;
        height = h;
        return true;
    }
    void release() override {}
    int screenWidth() const override { return 1920; }
    int screenHeight() const override { return 1080; }
    int backBufferWidth() const override { return width; }
    int backBufferHeight() const override { return height; }
    int samples() const override { return sampleCount; }
    int depthBits() const override { return 24; }
    int stencilBits() const override { return 8; }
    std::string adapterDescription() const override { return "Fake Renderer"; }
    GpuInfo gpuInfo() const override { return gpu; }
    bool supportsSamples(int n) const override { return samplesSupported && n <= 4; }
    void setSamples(int n) override { pendingSamples = n; }
    void setSwapInterval(int interval) override { swapInterval = interval; }
    bool reset(int w, int h) override {
        ++resets;
        if (resetFails)
            return false;
        width = w;
        height = h;
        sampleCount = pendingSamples;
        return true;
    }
    DeviceStatus status() override { return nextStatus; }
    bool present() override {
        ++presents;
        if (presentFails) {
            presentFails = false;
            return false;
        }
        return true;
    }

private:
    int pendingSamples = 0;
};

}  // namespace rv::test
