// The preview in the window: a QOpenGLWidget that offers its context to the runtime as the
// render device, runs the preview's loop pass whenever what it shows changes (input, a new model,
// a resize, a playing motion or scrolling texture) and paints the information overlay. A still
// view draws nothing.
#pragma once

// Before Qt's OpenGL headers, which must not bring their own GL declarations.
#include <epoxy/gl.h>

#include <QElapsedTimer>
#include <QOpenGLWidget>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

#include "app/overlay.h"
#include "preview/offscreen_device.h"
#include "preview/session.h"
#include "runtime/device.h"

namespace rv {

class PreviewWidget;

// The widget's context as a render device: frames go to an offscreen target (multisampled when
// anti-aliasing is on) and are shown by a blit into the widget's framebuffer.
class WidgetDevice final : public OffscreenDevice {
public:
    explicit WidgetDevice(PreviewWidget& widget) : widget_(widget) {}
    bool create(int width, int height) override;
    void release() override;
    int screenWidth() const override;
    int screenHeight() const override;
    void setSwapInterval(int interval) override { swapInterval_ = interval; }
    bool reset(int width, int height) override;
    DeviceStatus status() override { return DeviceStatus::Ready; }
    bool present() override;

private:
    PreviewWidget& widget_;
    int swapInterval_ = 1;
};

class PreviewWidget : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget* parent = nullptr);
    ~PreviewWidget() override;

    // Null until the context exists and the runtime started on it.
    PreviewSession* session() { return session_.get(); }
    WidgetDevice& device() { return device_; }
    bool started() const { return session_ != nullptr; }

    // The model drawn (and named by the overlay); kept until the next call. A new model is framed
    // from the default angles on its first frame.
    // `preparation`, made from the model beforehand, spares its first frame that work.
    void show(Model* model, ModelInstance* instance, std::shared_ptr<ModelPreparation> preparation = {});
    // Frames the model shown as a new one is framed: default angles, the whole model in view.
    void frameModel();
    // Whether frames keep coming without input: a motion moves something or a texture scrolls.
    bool animating() const;
    // Draws the grid or not.
    void setGrid(bool on);
    // The lines drawn over the preview each frame.
    std::function<std::vector<OverlayLine>()> overlay;
    // Runs in each update step after the camera.
    std::function<void()> registryStep;
    // The frames drawn so far and the time the last one took, in milliseconds.
    int framesDrawn() const { return frames_; }
    double lastFrameMilliseconds() const { return lastFrameMs_; }
    // The last frame as drawn (the overlay excluded); needs the context.
    Image grabScene();

signals:
    // The runtime started on the context (true) or could not (false).
    void runtimeStarted(bool ok);
    // An input event asked the host for something (InputAction flags).
    void inputActions(unsigned actions);
    void captionDue();

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void forward(const InputEvent& event);
    void paintOverlay();

    WidgetDevice device_;
    std::unique_ptr<PreviewSession> session_;
    Model* model_ = nullptr;
    ModelInstance* instance_ = nullptr;
    std::shared_ptr<ModelPreparation> preparation_;  // for the session still to come
    bool grid_ = true;
    QTimer frameTimer_;
    QElapsedTimer clock_;
    int frames_ = 0;
    bool modelFrameLogged_ = false;
    bool framePending_ = false;  // frame the model before the next pass
    double lastFrameMs_ = 0;
};

// Makes every OpenGL surface the preview's: 3.3 core with depth 24 and stencil 8. Call before the
// QApplication is made.
void setPreviewSurfaceFormat();

// A Qt key as the virtual-key code the camera and the runtime take (0 for none).
int virtualKeyOf(int qtKey);

}  // namespace rv
