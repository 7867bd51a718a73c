#include "app/preview_widget.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSurfaceFormat>
#include <QWheelEvent>

#include <cmath>

#include "model/motion.h"
#include "runtime/library.h"
#include "runtime/log.h"

namespace rv {

namespace {

int toDevice(int logical, qreal ratio) { return std::max(1, int(std::lround(logical * ratio))); }

}  // namespace

bool WidgetDevice::create(int, int) {
    // The widget's own size wins: the back buffer is what the widget shows.
    const qreal ratio = widget_.devicePixelRatioF();
    return target_.create(toDevice(widget_.width(), ratio), toDevice(widget_.height(), ratio), requestedSamples_);
}

void WidgetDevice::release() { target_.destroy(); }

int WidgetDevice::screenWidth() const {
    const QScreen* screen = widget_.screen();
    return screen ? toDevice(screen->size().width(), screen->devicePixelRatio()) : 8192;
}

int WidgetDevice::screenHeight() const {
    const QScreen* screen = widget_.screen();
    return screen ? toDevice(screen->size().height(), screen->devicePixelRatio()) : 8192;
}

bool WidgetDevice::reset(int, int) {
    const qreal ratio = widget_.devicePixelRatioF();
    const int width = toDevice(widget_.width(), ratio), height = toDevice(widget_.height(), ratio);
    // Anti-aliasing set as it was keeps the buffers: llvmpipe clears new ones, tens of
    // milliseconds at 1280x720 (once at every start).
    if (target_.fits(width, height, requestedSamples_))
        return true;
    return target_.create(width, height, requestedSamples_);
}

bool WidgetDevice::present() {
    target_.blitTo(widget_.defaultFramebufferObject());
    return true;
}

void setPreviewSurfaceFormat() {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setDepthBufferSize(24);
    format.setStencilBufferSize(8);
    QSurfaceFormat::setDefaultFormat(format);
}

int virtualKeyOf(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Escape: return 27;
    case Qt::Key_F2: return 113;
    case Qt::Key_F5: return 116;
    case Qt::Key_Home: return 36;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Space: return 32;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    default: break;
    }
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9))
        return qtKey;  // the same codes
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12)
        return 112 + (qtKey - Qt::Key_F1);
    return 0;
}

PreviewWidget::PreviewWidget(QWidget* parent) : QOpenGLWidget(parent), device_(*this) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(100, 56);
    // While something moves by itself, the next pass follows 15 ms after the last; otherwise a
    // pass runs only when asked for (update()).
    frameTimer_.setInterval(15);
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    clock_.start();
}

PreviewWidget::~PreviewWidget() {
    if (!session_)
        return;
    makeCurrent();
    session_->show(nullptr, nullptr);
    session_->renderer().release();
    session_.reset();
    device_.release();
    doneCurrent();
    resetLibraryState();
}

void PreviewWidget::show(Model* model, ModelInstance* instance, std::shared_ptr<ModelPreparation> preparation) {
    if (model && model != model_)
        framePending_ = true;
    model_ = model;
    instance_ = instance;
    preparation_ = std::move(preparation);
    if (session_) {
        // Letting go of a model deletes its textures: that needs the widget's context.
        makeCurrent();
        session_->show(model, instance, std::move(preparation_));
        doneCurrent();
    }
    update();
}

void PreviewWidget::frameModel() {
    if (!session_)
        return;
    session_->camera.yaw = kDefaultYaw;
    session_->camera.pitch = kDefaultPitch;
    session_->fit();
    update();
}

bool PreviewWidget::animating() const {
    if (model_ && instance_ && playbackMoves(*model_, instance_->playback))
        return true;
    // The effect path's 2-D effects run on the clock.
    const LibraryState& l = lib();
    return l.shaderMode && (l.postEffect != 0 || l.bloomOn);
}

void PreviewWidget::setGrid(bool on) {
    grid_ = on;
    if (session_)
        session_->settings.grid = on;
}

Image PreviewWidget::grabScene() {
    if (!session_)
        return {};
    makeCurrent();
    Image image = device_.readBack();
    doneCurrent();
    return image;
}

void PreviewWidget::initializeGL() {
    LibOptions options;
    options.width = width();
    options.height = height();
    options.enterDataFolder = false;  // paths the user gives stay relative to where they were given
    if (!LibInit(device_, options)) {
        emit runtimeStarted(false);
        return;
    }
    SetClearColour(128, 128, 128);
    session_ = std::make_unique<PreviewSession>(device_);
    session_->settings.grid = grid_;
    session_->registryStep = [this] {
        if (registryStep)
            registryStep();
    };
    session_->show(model_, instance_, std::move(preparation_));
    emit runtimeStarted(session_->ready());
}

void PreviewWidget::resizeGL(int, int) {
    if (!session_)
        return;
    const qreal ratio = devicePixelRatioF();
    WindowResized(toDevice(width(), ratio), toDevice(height(), ratio), false);
}

void PreviewWidget::paintGL() {
    if (!session_)
        return;
    QElapsedTimer took;
    took.start();
    if (framePending_ && model_) {
        framePending_ = false;
        session_->camera.yaw = kDefaultYaw;
        session_->camera.pitch = kDefaultPitch;
        session_->fit();
    }
    // QPainter's engine switches multisampling off in the shared context when it draws the
    // overlay without its antialiasing hint; the scene's anti-aliasing needs it on.
    glEnable(GL_MULTISAMPLE);
    const LoopPassResult pass = session_->pass(double(clock_.nsecsElapsed()) * 1e-9, device_.framebuffer());
    // The target keeps the last frame when this pass drew none.
    if (!pass.rendered)
        device_.present();
    if (frames_ == 0)
        LogLine("preview: first frame %.0f ms after the window was made", double(clock_.nsecsElapsed()) * 1e-6);
    if (pass.rendered && model_ && !modelFrameLogged_) {
        modelFrameLogged_ = true;
        LogLine("preview: first frame with a model %.0f ms after the window was made",
                double(clock_.nsecsElapsed()) * 1e-6);
    }
    if (session_->captionDue) {
        session_->captionDue = false;
        emit captionDue();
    }
    paintOverlay();
    ++frames_;
    lastFrameMs_ = double(took.nsecsElapsed()) * 1e-6;
    if (animating() && !frameTimer_.isActive())
        frameTimer_.start();
}

void PreviewWidget::paintOverlay() {
    if (!overlay)
        return;
    const std::vector<OverlayLine> lines = overlay();
    // Back to the state QPainter expects: the scene left culling (clockwise fronts), depth and
    // its own program and vertex array bound.
    glBindVertexArray(0);
    glUseProgram(0);
    glDisable(GL_CULL_FACE);
    glFrontFace(GL_CCW);
    glDisable(GL_DEPTH_TEST);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
    QPainter painter(this);
    QFont font("Noto Sans CJK JP");
    font.setPixelSize(14);
    font.setStyleHint(QFont::SansSerif);
    painter.setFont(font);
    const int baseline = painter.fontMetrics().ascent();
    for (const OverlayLine& line : lines) {
        const int y = line.fromBottom ? height() - line.y : line.y;
        const QString text = QString::fromStdString(line.text);
        // A dark shadow keeps white text readable over any model.
        painter.setPen(QColor(0, 0, 0, 160));
        painter.drawText(line.x + 1, y + baseline + 1, text);
        painter.setPen(Qt::white);
        painter.drawText(line.x, y + baseline, text);
    }
}

void PreviewWidget::forward(const InputEvent& event) {
    if (!session_)
        return;
    const unsigned actions = session_->input(event);
    // A move without a button down changes nothing on screen.
    const MouseState& mouse = lib().mouse;
    if (event.kind != InputKind::MouseMove || mouse.left || mouse.middle || mouse.right)
        update();
    if (actions != kInputNone)
        emit inputActions(actions);
}

namespace {

MouseButton buttonOf(Qt::MouseButton button) {
    return button == Qt::RightButton    ? MouseButton::Right
           : button == Qt::MiddleButton ? MouseButton::Middle
                                        : MouseButton::Left;
}

}  // namespace

void PreviewWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::MiddleButton && event->button() != Qt::RightButton)
        return;
    const QPoint p = event->position().toPoint();
    forward({InputKind::ButtonDown, p.x(), p.y(), buttonOf(event->button())});
}

void PreviewWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::MiddleButton && event->button() != Qt::RightButton)
        return;
    const QPoint p = event->position().toPoint();
    forward({InputKind::ButtonUp, p.x(), p.y(), buttonOf(event->button())});
}

void PreviewWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    forward({InputKind::MouseMove, p.x(), p.y()});
}

void PreviewWidget::wheelEvent(QWheelEvent* event) {
    const QPoint p = event->position().toPoint();
    InputEvent e{InputKind::Wheel, p.x(), p.y()};
    e.wheelDelta = event->angleDelta().y();
    forward(e);
}

void PreviewWidget::keyPressEvent(QKeyEvent* event) {
    // Home frames the whole model, as opening it does.
    if (event->key() == Qt::Key_Home && session_) {
        frameModel();
        return;
    }
    const int key = virtualKeyOf(event->key());
    if (key == 0 || event->isAutoRepeat())
        return QOpenGLWidget::keyPressEvent(event);
    InputEvent e{InputKind::KeyDown};
    e.key = key;
    forward(e);
}

void PreviewWidget::keyReleaseEvent(QKeyEvent* event) {
    const int key = virtualKeyOf(event->key());
    if (key == 0 || event->isAutoRepeat())
        return QOpenGLWidget::keyReleaseEvent(event);
    InputEvent e{InputKind::KeyUp};
    e.key = key;
    forward(e);
}

}  // namespace rv
