#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>

#include "model/registry.h"
#include "runtime/library.h"
#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {

namespace {

struct OpenCommand {
    int id;
    const char* format;  // empty for the command that opens any format
    const char* title;
};

const OpenCommand kOpenCommands[] = {
    {kOpenAny, "", "読み込むファイルを選択して下さい"},
    {kOpenKzp, "KZP", "読み込む KZP ファイルを選択して下さい"},
    {kOpenDxf, "DXF", "読み込む DXF ファイルを選択して下さい"},
    {kOpenLwo, "LWO", "読み込む LWO ファイルを選択して下さい"},
    {kOpenMqo, "MQO", "読み込む MQO ファイルを選択して下さい"},
    {kOpenMx, "MX", "読み込む MX ファイルを選択して下さい"},
    {kOpenRok, "ROK", "読み込む ROK ファイルを選択して下さい"},
    {kOpenX, "X", "読み込む X ファイルを選択して下さい"},
};

struct SaveCommand {
    int id;
    const char* format;       // the dialog's format name
    const char* initialName;  // without a current model
    const char* extension;    // of the initial name from the current model
    ConversionTarget target;
};

const SaveCommand kSaveCommands[] = {
    {kSaveKzp, "KZP", "新規.KZP", "KZP", ConversionTarget::Kzp},
    {kSaveLwo, "LWO", "新規.lwo", "lwo", ConversionTarget::Lwo},
    {kSaveMx, "MX", "新規.mx", "mx", ConversionTarget::Mx},
    {kSaveX, "X", "新規.x", "x", ConversionTarget::X},
    {kSaveGltf, "GLB", "新規.glb", "glb", ConversionTarget::Glb},
    {kSaveObj, "OBJ", "新規.obj", "obj", ConversionTarget::Obj},
};

QString formatFilter(const QString& format) {
    return QString("%1 Files (%2)").arg(format, anyCasePattern(format));
}

// The eight entries of the open-any dialog, the first selected.
QStringList anyFormatFilters() {
    const std::pair<const char*, const char*> entries[] = {
        {"KZP ( DE Reziru )", "KZP"},      {"\t\tDXF", "DXF"},
        {"\t\tLWO ( LightWave 5.6 )", "LWO"}, {"\t\tMQO ( メタセコイア 2.2.3 )", "MQO"},
        {"\t\tMX　 ( HSP 2.55 )", "MX"},   {"\t\tROK ( 六角大王 5.25 )", "ROK"},
        {"\t\tX　　 ( DirectX )", "X"},    {"\t\tすべてのファイル", ""},
    };
    QStringList filters;
    for (const auto& [label, extension] : entries)
        filters << QString("%1 (%2)").arg(QString::fromUtf8(label),
                                          *extension ? anyCasePattern(QString::fromUtf8(extension)) : QString("*"));
    return filters;
}

QString toQt(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace

MainWindow::MainWindow(UserDialogs& dialogs, const SettingsFile& settings, std::string settingsPath)
    : dialogs_(dialogs),
      settings_(settings),
      settingsPath_(std::move(settingsPath)),
      preview_(new PreviewWidget(this)),
      panel_(nullptr),
      status_(new QLabel(this)),
      batch_(DropBatch::Hooks{
          [this] { releaseCurrent(); },
          [this](Model* model, ModelInstance* instance) { preview_->show(model, instance); },
          [this](std::size_t done, std::size_t total, const ConvertReport& report) {
              for (const std::string& w : report.warnings)
                  logText(w);
              status_->setText(QString("変換 %1 / %2 : %3").arg(done).arg(total).arg(toQt(fileNameOf(report.source))));
          }}) {
    settingsFromFile_ = !settingsPath_.empty() && QFileInfo::exists(QString::fromStdString(settingsPath_));
    setWindowTitle("REVizevoz 2015");
    setAcceptDrops(true);
    setCentralWidget(preview_);
    statusBar()->addWidget(status_, 1);
    buildMenu();

    preview_->overlay = [] { return overlayLines(currentModel()); };
    preview_->registryStep = [] { registry().collect(); };
    preview_->setGrid(settings_.referenceGeometry != 0);
    connect(preview_, &PreviewWidget::inputActions, this, &MainWindow::handleInput);
    connect(preview_, &PreviewWidget::captionDue, this, [this] { setWindowTitle("REVizevoz 2015"); });

    workTimer_.setInterval(10);
    connect(&workTimer_, &QTimer::timeout, this, &MainWindow::pollWork);

    // The stored rectangle when it was valid; else a 1280-wide window with a 16:9 preview.
    if (settings_.windowWidth >= 100 && settings_.windowHeight >= 100)
        setGeometry(settings_.windowLeft, settings_.windowTop, settings_.windowWidth, settings_.windowHeight);
    else
        resize(1280, clientHeightFor(1280) + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
}

MainWindow::~MainWindow() {
    writeSettings();
    preview_->show(nullptr, nullptr);
}

void MainWindow::buildMenu() {
    QMenu* file = menuBar()->addMenu("ファイル");
    auto add = [&](QMenu* menu, int id, const char* text) {
        QAction* a = menu->addAction(QString::fromUtf8(text));
        a->setData(id);
        connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
        actions_[id] = a;
    };
    add(file, kOpenAny, "読み込み");
    add(file, kOpenKzp, "読み込み ( KZP -> 2004 ～ 2009 )");
    add(file, kOpenDxf, "読み込み ( DXF )");
    add(file, kOpenLwo, "読み込み ( LWO -> LightWave 5.6 )");
    add(file, kOpenMqo, "読み込み ( MQO -> メタセコイア 2.2.3～4.4.3 )");
    add(file, kOpenMx, "読み込み ( MX -> HSP 2.55 )");
    add(file, kOpenRok, "読み込み ( ROK -> 六角大王 5.25 )");
    add(file, kOpenX, "読み込み ( X -> DirectX 9.0 )");
    file->addSeparator();
    add(file, kSaveKzp, "　保存　  ( KZP 2009 -> DE Reziru )");
    add(file, kSaveLwo, "　保存　  ( LWO -> LightWave 5.6 )");
    add(file, kSaveMx, "　保存　  ( MX -> HSP 2.55 )");
    add(file, kSaveX, "　保存　  ( X -> DirectX 9.0 )");
    add(file, kSaveGltf, "　保存　  ( glTF 2.0 )");
    add(file, kSaveObj, "　保存　  ( OBJ )");
    file->addSeparator();
    add(file, kExit, "　終了");
    QAction* download = menuBar()->addAction("最新版のダウンロードはこちらへ");
    download->setData(int(kDownload));
    connect(download, &QAction::triggered, this, [this] { runCommand(kDownload); });
    actions_[kDownload] = download;
}

void MainWindow::finishStartUp(const QStringList& arguments) {
    arguments_ = arguments;
    if (settingsFromFile_) {
        preview_->makeCurrent();
        AntiAliasSet(settings_.antiAliasOn != 0);
        preview_->doneCurrent();
        lib().lightOn = settings_.lightOn != 0;
        lib().shaderMode = settings_.displayWord5 != 0;
    }
    // The first file of a format we read is opened: a file manager passes every file the user
    // opened with us, of any of the seven formats. The rest are ignored.
    for (const QString& argument : arguments) {
        const std::string path = argument.toStdString();
        if (readerForName(path)) {
            startLoad(path, true);
            break;
        }
    }
    panel_ = new ConversionPanel(this);
    panel_->placeBeside(this);
    panel_->show();
    activateWindow();
    preview_->setFocus();
    emit startedUp(true);
}

void MainWindow::runCommand(int command) {
    if (command == kExit) {
        if (dialogs_.confirm(this, "終了してもいいですか？"))
            close();
        ResyncTiming();
    } else if (command == kDownload) {
        dialogs_.openUrl(QUrl(kDownloadUrl));
    } else if (command >= 40023 && command <= 40092) {
        for (const OpenCommand& c : kOpenCommands)
            if (c.id == command)
                return openCommand(command);
        saveCommand(command);
    } else {
        saveCommand(command);
    }
}

void MainWindow::openCommand(int command) {
    const OpenCommand* found = nullptr;
    for (const OpenCommand& c : kOpenCommands)
        if (c.id == command)
            found = &c;
    if (!found)
        return;
    if (lastDirectory_.isEmpty())
        lastDirectory_ = QCoreApplication::applicationDirPath();
    const QString format = QString::fromUtf8(found->format);
    const QStringList filters = format.isEmpty() ? anyFormatFilters() : QStringList{formatFilter(format)};
    const QString chosen =
        dialogs_.openFile(this, QString::fromUtf8(found->title), lastDirectory_, filters, format.isEmpty() ? "KZP" : format);
    ResyncTiming();
    if (chosen.isEmpty())
        return;
    lastDirectory_ = QFileInfo(chosen).absolutePath();
    startLoad(chosen.toStdString(), true);
}

void MainWindow::saveCommand(int command) {
    const SaveCommand* found = nullptr;
    for (const SaveCommand& c : kSaveCommands)
        if (c.id == command)
            found = &c;
    const Model* model = currentModel();
    if (!found || !model || batch_.busy() || menuLoad_)
        return;
    QString initial = QString::fromUtf8(found->initialName);
    const std::string base = baseNameOf(model->fileName);
    if (!base.empty())
        initial = toQt(sjisToUtf8(base).value_or(base)) + "." + found->extension;
    const QString format = QString::fromUtf8(found->format);
    const QString chosen =
        dialogs_.saveFile(this, "名前を付けてファイルに保存", lastDirectory_, initial, formatFilter(format), format);
    ResyncTiming();
    if (chosen.isEmpty())
        return;
    const SaveOutcome saved = saveModel(*model, found->target, chosen.toStdString());
    for (const std::string& w : saved.warnings)
        logText(w);
    if (!saved.ok)
        dialogs_.message(this, toQt(saved.error), true);
}

void MainWindow::startLoad(const std::string& path, bool) {
    if (menuLoad_ || batch_.busy())
        return;
    releaseCurrent();
    menuLoad_ = beginLoadByPath(path);
    workTimer_.start();
}

void MainWindow::releaseCurrent() { preview_->show(nullptr, nullptr); }

void MainWindow::showCurrent() { preview_->show(registry().get(0), registry().instance(0)); }

void MainWindow::pollWork() {
    if (menuLoad_ && menuLoad_->ready()) {
        PathLoad load = std::move(*menuLoad_);
        menuLoad_.reset();
        const LoadOutcome outcome = finishLoadByPath(load);
        for (const std::string& w : outcome.warnings)
            logText(w);
        if (outcome.model)
            showCurrent();
        else if (outcome.error && !outcome.error->userMessage)
            dialogs_.message(this, toQt(outcome.error->message()), true);
        ResyncTiming();
    }
    if (!menuLoad_ && batch_.busy()) {
        const bool more = batch_.poll();
        if (more)
            status_->setText(QString("変換中 %1 / %2 : %3 (残り %4)")
                                 .arg(batch_.done() + 1)
                                 .arg(batch_.total())
                                 .arg(toQt(fileNameOf(batch_.currentFile())))
                                 .arg(batch_.total() - batch_.done()));
        if (!more) {
            const std::vector<ConvertReport> reports = batch_.takeReports();
            status_->setText(QString("変換終了 %1 ファイル").arg(reports.size()));
            const std::string failures = batchFailureMessage(reports);
            if (!failures.empty() && !closeWhenIdle_)
                dialogs_.message(this, toQt(failures), false);
            ResyncTiming();
        }
    }
    if (!menuLoad_ && !batch_.busy()) {
        workTimer_.stop();
        for (QAction* a : actions_)
            a->setEnabled(true);
        if (closeWhenIdle_)
            close();
    }
}

void MainWindow::dropFiles(const QStringList& paths) {
    std::vector<std::string> files;
    for (const QString& p : paths)
        files.push_back(p.toStdString());
    if (files.empty())
        return;
    if (!batch_.busy())
        batch_.takeReports();
    const ConversionTarget target = panel_ ? panel_->target() : ConversionTarget::Kzp;
    batch_.add(files, target);
    // Loads and saves from the menu wait until the batch is through.
    for (int id : {int(kOpenAny), int(kOpenKzp), int(kOpenDxf), int(kOpenLwo), int(kOpenMqo), int(kOpenMx),
                   int(kOpenRok), int(kOpenX), int(kSaveKzp), int(kSaveLwo), int(kSaveMx), int(kSaveX),
                   int(kSaveGltf), int(kSaveObj)})
        actions_[id]->setEnabled(false);
    status_->setText(QString("変換 %1 / %2").arg(batch_.done()).arg(batch_.total()));
    workTimer_.start();
    pollWork();
}

void MainWindow::finishWork() {
    while (menuLoad_ || batch_.busy()) {
        if (menuLoad_)
            menuLoad_->pending.result.wait();
        pollWork();
        if (batch_.busy())
            batch_.poll(true);
        QCoreApplication::processEvents();
    }
    pollWork();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    dropFiles(paths);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A batch finishes the file it is on, then the window closes; files not begun are dropped.
    if (batch_.busy() || menuLoad_) {
        batch_.dropPending();
        closeWhenIdle_ = true;
        event->ignore();
        return;
    }
    recordRectangle();
    writeSettings();
    if (panel_)
        panel_->close();
    event->accept();
}

bool MainWindow::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
    case QEvent::WindowActivate:
        recordRectangle();
        break;
    default:
        break;
    }
    return QMainWindow::event(event);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (adjusting_ || isMaximized() || isFullScreen() || isMinimized())
        return;
    // The preview keeps 16:9 of its width.
    const int want = clientHeightFor(preview_->width());
    const int extra = height() - preview_->height();
    if (preview_->height() != want && want > 0) {
        adjusting_ = true;
        resize(width(), want + extra);
        adjusting_ = false;
    }
}

void MainWindow::recordRectangle() {
    const QRect r = frameGeometry();
    recordWindowRectangle(settings_, r.left(), r.top(), r.width(), r.height(), isMinimized());
}

void MainWindow::writeSettings() {
    if (settingsWritten_ || settingsPath_.empty())
        return;
    settingsWritten_ = true;
    settings_.antiAliasOn = lib().antiAliasOn ? 1 : 0;
    settings_.displayWord5 = lib().shaderMode ? 1 : 0;
    if (auto failed = rv::writeSettings(settingsPath_, settings_))
        LogLine("*** ERROR *** %s: %s", settingsPath_.c_str(), failed->c_str());
}

void MainWindow::handleInput(unsigned actions) {
    if (actions & kInputClose)
        close();  // Escape: no question asked
    if (actions & kInputToggleAntiAlias) {
        preview_->makeCurrent();
        AntiAliasSet(!lib().antiAliasOn);
        preview_->doneCurrent();
    }
    if (actions & kInputToggleShaderMode)
        lib().shaderMode = !lib().shaderMode;  // a context without a shadow map turns it off again
    if (actions & (kInputRefreshInfo | kInputToggleAntiAlias | kInputToggleShaderMode))
        preview_->update();
}

}  // namespace rv
