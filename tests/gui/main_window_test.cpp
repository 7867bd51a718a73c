// The window as a user drives it, with the dialogs answered by the test. Runs under Xvfb: the
// preview needs an OpenGL context.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QSurfaceFormat>
#include <QTest>
#include <QTranslator>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include <time.h>

#include "app/main_window.h"
#include "app/translation.h"
#include "formats/kzp/kzp.h"
#include "model/registry.h"
#include "runtime/library.h"
#include "tests/support/make_model.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

struct ScriptedDialogs : UserDialogs {
    QStringList answers;  // file names, in the order asked
    QStringList openFolders, titles, messages;
    QStringList saveFilters;  // those of the last save dialog
    int filterAnswer = 0;  // the save filter chosen
    bool confirmAnswer = false;
    int confirms = 0;
    QString openFile(QWidget*, const QString& title, const QString& folder, const QStringList&,
                     const QString&) override {
        titles << title;
        openFolders << folder;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString saveFile(QWidget*, const QString& title, const QString&, const QString&, const QStringList& filters,
                     const QString&, int& chosenFilter) override {
        titles << title;
        saveFilters = filters;
        chosenFilter = filterAnswer;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    bool confirm(QWidget*, const QString&) override {
        ++confirms;
        return confirmAnswer;
    }
    void message(QWidget*, const QString& text, bool) override { messages << text; }
    void openUrl(const QUrl&) override {}
};

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        registry().releaseAll();  // each test starts without a current model
        window_ = std::make_unique<MainWindow>(dialogs_, SettingsFile{}, std::string());
        bool started = false, ok = false;
        QObject::connect(window_->preview(), &PreviewWidget::runtimeStarted, [&](bool good) {
            started = true;
            ok = good;
            if (good)
                window_->finishStartUp(startArguments_);
        });
        // As the program does: the command-line file loads while the window is made.
        window_->openStartFile(startArguments_);
        window_->show();
        QTRY_VERIFY_WITH_TIMEOUT(started, 10000);
        if (!ok)
            GTEST_SKIP() << "no OpenGL context for the preview";
    }
    void TearDown() override {
        if (window_)
            window_->finishWork();
        window_.reset();
    }

    std::string copyFixture(const std::string& relative, const std::string& name) {
        const fs::path to = dir_.path() / name;
        fs::copy_file(fs::path(REVIZEVOZ_TEST_DATA) / relative, to);
        return to.string();
    }

    test::TempDir dir_;
    // Recent files and the last folder go to this test's own folder.
    test::ScopedEnv config_{"XDG_CONFIG_HOME", (dir_.path() / "config").string()};
    QStringList startArguments_;  // the command line after the program name
    ScriptedDialogs dialogs_;
    std::unique_ptr<MainWindow> window_;
};

// A file manager passes every file the user opened with the program, in any of the seven formats.
class WindowStartedWithFiles : public Window {
protected:
    void SetUp() override {
        for (const auto& [from, name] : {std::pair{"mqo/small.mqo", "notes.txt"},
                                         {"mqo/small.mqo", "a.mqo"},
                                         {"kzp/two_groups_2009000.kzp", "b.kzp"}})
            startArguments_ << QString::fromStdString(copyFixture(from, name));
        Window::SetUp();
    }
};

TEST_F(WindowStartedWithFiles, OpensTheFirstFileOfAFormatItReads) {
    QTRY_VERIFY_WITH_TIMEOUT(currentModel() != nullptr, 10000);
    EXPECT_EQ(currentModel()->fileName, "a.mqo");
    EXPECT_TRUE(dialogs_.messages.isEmpty()) << dialogs_.messages.join("\n").toStdString();
    // Remembered among the recent files, and drawn.
    EXPECT_EQ(window_->recentFiles().size(), 1);
    const int frames = window_->preview()->framesDrawn();
    window_->preview()->update();
    QTRY_VERIFY_WITH_TIMEOUT(window_->preview()->framesDrawn() > frames, 5000);
    EXPECT_GT(window_->preview()->session()->lastCounts().triangles, 0);
}

TEST_F(Window, MenuHasEveryCommandWithItsText) {
    const std::pair<int, const char*> items[] = {
        {40092, "読み込み"},
        {40023, "読み込み ( KZP -> 2004 ～ 2009 )"},
        {40046, "読み込み ( DXF )"},
        {40032, "読み込み ( LWO -> LightWave 5.6 )"},
        {40062, "読み込み ( MQO -> メタセコイア 2.2.3～4.4.3 )"},
        {40044, "読み込み ( MX -> HSP 2.55 )"},
        {40047, "読み込み ( ROK -> 六角大王 5.25 )"},
        {40053, "読み込み ( X -> DirectX 9.0 )"},
        {40106, "読み込み ( glTF -> glTF 2.0 )"},
        {40107, "読み込み ( OBJ -> Wavefront )"},
        {40024, "　保存　  ( KZP 2009 -> DE Reziru )"},
        {40048, "　保存　  ( LWO -> LightWave 5.6 )"},
        {40045, "　保存　  ( MX -> HSP 2.55 )"},
        {40054, "　保存　  ( X -> DirectX 9.0 )"},
        {40108, "　保存　  ( MQO -> メタセコイア )"},
        {40007, "　終了"},
        {40010, "最新版のダウンロードはこちらへ"},
    };
    for (const auto& [id, text] : items) {
        QAction* a = window_->action(id);
        ASSERT_NE(a, nullptr) << id;
        EXPECT_EQ(a->text(), QString::fromUtf8(text)) << id;
        EXPECT_EQ(a->data().toInt(), id);
    }
    const QList<QAction*> top = window_->menuBar()->actions();
    ASSERT_EQ(top.size(), 3);
    EXPECT_EQ(top[0]->text(), "ファイル");
    EXPECT_EQ(top[2]->text(), "ヘルプ");
    const QList<QAction*> file = top[0]->menu()->actions();
    // Ten loads, recent files, a separator, eight saves, a separator, the panel, a separator, exit.
    ASSERT_EQ(file.size(), 24);
    EXPECT_EQ(file[10]->menu(), window_->recentMenu());
    EXPECT_TRUE(file[11]->isSeparator());
    EXPECT_EQ(file[18]->data().toInt(), int(kSaveMqo));
    EXPECT_TRUE(file[20]->isSeparator());
    EXPECT_TRUE(file[22]->isSeparator());
    // The habits of desktop programs.
    EXPECT_EQ(window_->action(kOpenAny)->shortcut(), QKeySequence(QKeySequence::Open));
    EXPECT_EQ(window_->action(kSaveTarget)->shortcut(), QKeySequence(QKeySequence::Save));
    EXPECT_EQ(window_->action(kExit)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(window_->action(kHelpKeys)->shortcut(), QKeySequence(Qt::Key_F1));
}

TEST_F(Window, PanelStartsAtKzpAndPicksTheTarget) {
    ConversionPanel* panel = window_->panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowTitle(), "変換後");
    EXPECT_TRUE(panel->buttons()->button(1440)->isChecked());
    EXPECT_EQ(panel->target(), ConversionTarget::Kzp);
    panel->buttons()->button(1442)->click();
    EXPECT_EQ(panel->target(), ConversionTarget::Mx);
    // glTF, OBJ and MQO after X.
    ASSERT_EQ(panel->buttons()->buttons().size(), 7);
    EXPECT_EQ(panel->buttons()->button(1444)->text(), "glTF");
    EXPECT_EQ(panel->buttons()->button(1446)->text(), "OBJ");
    EXPECT_EQ(panel->buttons()->button(1447)->text(), "MQO");
    panel->buttons()->button(1446)->click();
    EXPECT_EQ(panel->target(), ConversionTarget::Obj);
    panel->buttons()->button(1447)->click();
    EXPECT_EQ(panel->target(), ConversionTarget::Mqo);
    // A tool window of the main window, so window managers keep it above it.
    EXPECT_TRUE(panel->windowFlags() & Qt::Tool);
    ASSERT_NE(panel->windowHandle(), nullptr);
    EXPECT_EQ(panel->windowHandle()->transientParent(), window_->windowHandle());
}

TEST_F(Window, CtrlSSavesToThePanelsTarget) {
    dialogs_.answers << QString::fromStdString(copyFixture("mqo/small.mqo", "small.mqo"));
    window_->runCommand(kOpenMqo);
    window_->finishWork();
    ASSERT_NE(currentModel(), nullptr);
    window_->panel()->buttons()->button(1444)->click();  // glTF
    dialogs_.answers << QString::fromStdString((dir_.path() / "out.glb").string());
    window_->runCommand(kSaveTarget);
    EXPECT_TRUE(fs::exists(dir_.path() / "out.glb"));
}

TEST_F(Window, RecentFilesKeepTheLastTenAndDropMissingOnes) {
    EXPECT_FALSE(window_->recentMenu()->isEnabled());
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i)
        files.push_back(copyFixture("mqo/small.mqo", "m" + std::to_string(i) + ".mqo"));
    for (const std::string& f : files) {
        dialogs_.answers << QString::fromStdString(f);
        window_->runCommand(kOpenAny);
        window_->finishWork();
    }
    // A file opened again moves to the top instead of appearing twice.
    dialogs_.answers << QString::fromStdString(files[5]);
    window_->runCommand(kOpenAny);
    window_->finishWork();
    QStringList recent = window_->recentFiles();
    ASSERT_EQ(recent.size(), kRecentFileCount);
    EXPECT_EQ(recent[0].toStdString(), files[5]);
    EXPECT_EQ(recent[1].toStdString(), files[11]);
    EXPECT_EQ(recent.count(QString::fromStdString(files[5])), 1);
    EXPECT_FALSE(recent.contains(QString::fromStdString(files[0])));
    ASSERT_EQ(window_->recentMenu()->actions().size(), kRecentFileCount);

    // A missing file: dropped from the list with a message, nothing opened.
    dialogs_.messages.clear();  // each open told of the texture the fixture names
    fs::remove(files[11]);
    window_->recentMenu()->actions()[1]->trigger();
    window_->finishWork();
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_TRUE(dialogs_.messages[0].contains("m11.mqo"));
    EXPECT_EQ(window_->recentFiles().size(), kRecentFileCount - 1);
    EXPECT_EQ(currentModel()->fileName, "m5.mqo");
    // An existing one opens.
    window_->recentMenu()->actions()[2]->trigger();
    window_->finishWork();
    EXPECT_EQ(currentModel()->fileName, "m9.mqo");
    EXPECT_EQ(window_->recentFiles()[0].toStdString(), files[9]);

    // The next start has the same list.
    const QStringList kept = window_->recentFiles();
    window_.reset();
    MainWindow again(dialogs_, SettingsFile{}, std::string());
    EXPECT_EQ(again.recentFiles(), kept);
    EXPECT_EQ(fs::path(again.lastDirectory().toStdString()), dir_.path());
}

TEST_F(Window, DroppedFilesConvertBesideTheirSourcesAndLaterDropsQueue) {
    window_->panel()->buttons()->button(1441)->click();  // LWO
    const std::string a = copyFixture("mqo/small.mqo", "a.mqo");
    const std::string b = copyFixture("kzp/two_groups_2009000.kzp", "b.kzp");
    const std::string c = copyFixture("lwo/two_surfaces.lwo", "c.lwo");
    const std::string old = copyFixture("kzp/tri_2004002.kzp", "old.kzp");
    window_->dropFiles({QString::fromStdString(a), QString::fromStdString(b), QString::fromStdString(c)});
    EXPECT_TRUE(window_->batchRunning());
    // A second drop while the first runs joins the queue, with its own target.
    window_->panel()->buttons()->button(1440)->click();  // KZP
    window_->dropFiles({QString::fromStdString(old)});
    QTRY_VERIFY_WITH_TIMEOUT(!window_->batchRunning(), 20000);
    for (const char* out : {"a.LWO", "b.LWO", "c.LWO"})
        EXPECT_TRUE(fs::exists(dir_.path() / out)) << out;
    // The 2004 file comes out as revision 2009000 under its own name.
    const std::vector<std::byte> bytes = test::readBytes((dir_.path() / "old.KZP").string());
    ASSERT_GE(bytes.size(), 7u);
    std::int32_t revision = 0;
    std::memcpy(&revision, bytes.data() + 3, 4);
    EXPECT_EQ(revision, 2009000);
    // Every file converted; the report tells only what LWO could not keep.
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_FALSE(dialogs_.messages[0].contains("変換できませんでした")) << dialogs_.messages[0].toStdString();
    EXPECT_TRUE(dialogs_.messages[0].contains("a.LWO: ")) << dialogs_.messages[0].toStdString();
    EXPECT_TRUE(window_->statusText().contains("4")) << window_->statusText().toStdString();
}

TEST_F(Window, FailedFilesOfABatchAreNamedInOneMessage) {
    const std::string good = copyFixture("mqo/small.mqo", "good.mqo");
    const std::string bad = (dir_.path() / "bad.kzp").string();
    test::writeBytes(bad, test::bytesOf("KZP not really"));
    window_->dropFiles({QString::fromStdString(bad), QString::fromStdString(good)});
    QTRY_VERIFY_WITH_TIMEOUT(!window_->batchRunning(), 20000);
    EXPECT_TRUE(fs::exists(dir_.path() / "good.KZP"));
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_TRUE(dialogs_.messages[0].contains("bad.kzp"));
    EXPECT_FALSE(dialogs_.messages[0].contains("good.mqo: not"));
}

TEST_F(Window, DroppedFoldersGiveTheirModelsAndOtherFilesAreNamed) {
    fs::create_directories(dir_.path() / "drop/sub");
    copyFixture("mqo/small.mqo", "drop/sub/a.mqo");
    test::writeText((dir_.path() / "drop/notes.txt").string(), "not a model");
    window_->dropFiles({QString::fromStdString((dir_.path() / "drop").string())});
    QTRY_VERIFY_WITH_TIMEOUT(!window_->batchRunning() && !dialogs_.messages.isEmpty(), 20000);
    EXPECT_TRUE(fs::exists(dir_.path() / "drop/sub/a.KZP"));
    EXPECT_FALSE(fs::exists(dir_.path() / "drop/notes.KZP"));
    EXPECT_TRUE(dialogs_.messages.back().contains("notes.txt: not a model file"))
        << dialogs_.messages.back().toStdString();
    // A drop of nothing but other files still reports.
    dialogs_.messages.clear();
    window_->dropFiles({QString::fromStdString((dir_.path() / "drop/notes.txt").string())});
    QTRY_VERIFY_WITH_TIMEOUT(!dialogs_.messages.isEmpty(), 5000);
    EXPECT_TRUE(dialogs_.messages.back().contains("notes.txt: not a model file"));
}

TEST_F(Window, SecondOpenDialogStartsWhereTheFirstChose) {
    fs::create_directories(dir_.path() / "models");
    const std::string model = copyFixture("mqo/small.mqo", "models/small.mqo");
    dialogs_.answers << QString::fromStdString(model);
    window_->runCommand(kOpenMqo);
    window_->finishWork();
    ASSERT_NE(currentModel(), nullptr);
    EXPECT_EQ(currentModel()->polygonCount() > 0, true);
    window_->runCommand(kOpenAny);  // cancelled
    ASSERT_EQ(dialogs_.openFolders.size(), 2);
    EXPECT_EQ(dialogs_.openFolders[0], QDir::homePath());
    EXPECT_EQ(fs::path(dialogs_.openFolders[1].toStdString()), dir_.path() / "models");
    EXPECT_EQ(dialogs_.titles[0], "読み込む MQO ファイルを選択して下さい");
}

TEST_F(Window, FailingSaveShowsOneMessageAndKeepsTheOldFile) {
    const std::string model = copyFixture("mqo/small.mqo", "small.mqo");
    dialogs_.answers << QString::fromStdString(model);
    window_->runCommand(kOpenMqo);
    window_->finishWork();
    ASSERT_NE(currentModel(), nullptr);
    dialogs_.messages.clear();  // the texture the fixture names is not beside it
    // A folder in the way of the temporary file's rename: the save cannot complete.
    const fs::path target = dir_.path() / "kept.KZP";
    fs::create_directories(target / "inside");
    dialogs_.answers << QString::fromStdString(target.string());
    window_->runCommand(kSaveKzp);
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_TRUE(dialogs_.messages[0].contains("kept.KZP")) << dialogs_.messages[0].toStdString();
    EXPECT_TRUE(fs::is_directory(target / "inside"));
    EXPECT_EQ(dialogs_.titles.back(), "名前を付けてファイルに保存");
}

TEST_F(Window, SaveCommandsWriteTheirFormatsIncludingGltfObjAndMqo) {
    window_->runCommand(kSaveKzp);  // no current model: no dialog, nothing written
    EXPECT_TRUE(dialogs_.titles.isEmpty());
    dialogs_.answers << QString::fromStdString(copyFixture("mqo/small.mqo", "small.mqo"));
    window_->runCommand(kOpenMqo);
    window_->finishWork();
    ASSERT_NE(currentModel(), nullptr);
    const std::pair<int, const char*> saves[] = {
        {kSaveLwo, "s.lwo"}, {kSaveGltf, "s.glb"}, {kSaveObj, "s.obj"}, {kSaveMqo, "s.mqo"}};
    for (const auto& [command, name] : saves) {
        dialogs_.answers << QString::fromStdString((dir_.path() / name).string());
        window_->runCommand(command);
        EXPECT_TRUE(fs::exists(dir_.path() / name)) << name;
    }
    EXPECT_TRUE(fs::exists(dir_.path() / "s.mtl"));
    // The X dialog offers the three forms; the one chosen is written.
    const char* forms[][2] = {{"b.x", "xof 0303bin 0032"}, {"t.x", "xof 0303txt 0032"}, {"c.x", "xof 0303bzip0032"}};
    for (int form = 0; form < 3; ++form) {
        dialogs_.filterAnswer = form;
        dialogs_.answers << QString::fromStdString(dir_.file(forms[form][0]));
        window_->runCommand(kSaveX);
        ASSERT_EQ(dialogs_.saveFilters.size(), 3);
        EXPECT_EQ(dialogs_.saveFilters[0], "X Files, binary (*.[Xx])");
        const std::vector<std::byte> bytes = test::readBytes(dir_.file(forms[form][0]));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), std::min<std::size_t>(16, bytes.size())),
                  forms[form][1]);
    }
    EXPECT_EQ(window_->action(kSaveGltf)->text(), "　保存　  ( glTF 2.0 )");
    EXPECT_EQ(window_->action(kSaveObj)->text(), "　保存　  ( OBJ )");
    // The open tells of the missing texture, each save of what it could not keep.
    ASSERT_GE(dialogs_.messages.size(), 2) << dialogs_.messages.join("\n").toStdString();
    EXPECT_TRUE(dialogs_.messages[0].contains("wood.png")) << dialogs_.messages[0].toStdString();
    EXPECT_TRUE(dialogs_.messages[1].contains("s.lwo: textures, normals and texture coordinates are not kept by LWOB"))
        << dialogs_.messages[1].toStdString();
}

TEST_F(Window, AModelOverTheLimitsIsSimplifiedWhenTheUserSaysSo) {
    const QString big = QString::fromStdString(dir_.file("big.obj"));
    test::writeText(dir_.file("big.obj"), test::gridObj(300, 120));  // 72,000 triangles

    // No: nothing is loaded, and the refusal the question gave is not told again.
    dialogs_.answers << big;
    window_->runCommand(kOpenObj);
    window_->finishWork();
    EXPECT_EQ(dialogs_.confirms, 1);
    EXPECT_EQ(currentModel(), nullptr);
    EXPECT_TRUE(dialogs_.messages.isEmpty()) << dialogs_.messages.join("\n").toStdString();

    // Yes: loaded again, simplified, and the user told by how much.
    dialogs_.confirmAnswer = true;
    dialogs_.answers << big;
    window_->runCommand(kOpenObj);
    window_->finishWork();
    EXPECT_EQ(dialogs_.confirms, 2);
    ASSERT_NE(currentModel(), nullptr);
    EXPECT_LE(currentModel()->polygonCount(), kMaxPolygons);
    ASSERT_FALSE(dialogs_.messages.isEmpty());
    EXPECT_TRUE(dialogs_.messages.back().contains("big.obj: simplified from 72,000 to"))
        << dialogs_.messages.back().toStdString();

    // A drop of two asks once.
    fs::copy_file(dir_.file("big.obj"), dir_.file("big2.obj"));
    window_->dropFiles({big, QString::fromStdString(dir_.file("big2.obj"))});
    window_->finishWork();
    EXPECT_EQ(dialogs_.confirms, 3);
    EXPECT_TRUE(fs::exists(dir_.file("big.KZP")));
    EXPECT_TRUE(fs::exists(dir_.file("big2.KZP")));
}

TEST_F(Window, ExitAsksButEscapeDoesNot) {
    dialogs_.confirmAnswer = false;
    window_->runCommand(kExit);
    EXPECT_EQ(dialogs_.confirms, 1);
    EXPECT_TRUE(window_->isVisible());
    QTest::keyClick(window_->preview(), Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!window_->isVisible(), 5000);
    EXPECT_EQ(dialogs_.confirms, 1);
}

TEST_F(Window, PreviewDrawsFramesAndTheOverlayNamesTheModel) {
    QTRY_VERIFY_WITH_TIMEOUT(window_->preview()->framesDrawn() > 0, 10000);
    const Image frame = window_->preview()->grabScene();
    ASSERT_GT(frame.width, 0);
    // The background of the scene is grey 128.
    const std::uint8_t* corner = &frame.rgba[0];
    EXPECT_EQ(corner[0], 128);
    EXPECT_EQ(corner[1], 128);
    EXPECT_EQ(corner[2], 128);
    // The preview keeps 16:9 of its width.
    EXPECT_NEAR(window_->preview()->height(), clientHeightFor(window_->preview()->width()), 1);
}

double processCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The pixels of the scene that are not the grey 128 background.
QRect modelPixels(const Image& frame) {
    QRect box;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const std::uint8_t* p = &frame.rgba[(std::size_t(y) * frame.width + x) * 4];
            if (p[0] != 128 || p[1] != 128 || p[2] != 128)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

TEST_F(Window, StillModelDoesNotRedrawOrUseTheProcessor) {
    dialogs_.answers << QString::fromStdString(copyFixture("mqo/small.mqo", "small.mqo"));
    window_->runCommand(kOpenMqo);
    window_->finishWork();
    ASSERT_NE(currentModel(), nullptr);
    PreviewWidget* view = window_->preview();
    QTRY_VERIFY_WITH_TIMEOUT(view->framesDrawn() > 0, 10000);
    ASSERT_FALSE(view->animating());
    QTest::qWait(500);
    const int frames = view->framesDrawn();
    const double cpu = processCpuSeconds();
    QTest::qWait(4000);
    const double used = (processCpuSeconds() - cpu) / 4;
    EXPECT_LE(view->framesDrawn() - frames, 1);
    EXPECT_LT(used, 0.05) << "share of one core used while idle";
    std::printf("idle: %.1f %% of one core\n", used * 100);

    // Input draws: a wheel step, one frame or so.
    QWheelEvent wheel(QPointF(100, 100), view->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view, &wheel);
    QTRY_VERIFY_WITH_TIMEOUT(view->framesDrawn() > frames, 5000);
}

// A model opened is framed from the default angles: its picture fills at least half the view's
// width or height and touches no edge.
void expectFramed(PreviewWidget* view) {
    QTRY_VERIFY_WITH_TIMEOUT(view->framesDrawn() > 0, 10000);
    view->repaint();
    const Image frame = view->grabScene();
    ASSERT_GT(frame.width, 0);
    const QRect box = modelPixels(frame);
    ASSERT_FALSE(box.isEmpty());
    EXPECT_TRUE(box.width() >= frame.width / 2 || box.height() >= frame.height / 2)
        << box.width() << " x " << box.height() << " of " << frame.width << " x " << frame.height;
    EXPECT_GT(box.left(), 0);
    EXPECT_GT(box.top(), 0);
    EXPECT_LT(box.right(), frame.width - 1);
    EXPECT_LT(box.bottom(), frame.height - 1);
    EXPECT_EQ(view->session()->camera.yaw, kDefaultYaw);
    EXPECT_EQ(view->session()->camera.pitch, kDefaultPitch);
}

TEST_F(Window, OpenedModelsAreFramed) {
    window_->preview()->setGrid(false);
    // Turned away first: opening frames from the default angles all the same.
    window_->preview()->session()->camera.yaw = 130;
    // A closed slab, wide and flat: whichever way its faces wind, its picture is the whole box's.
    const std::string slab = (dir_.path() / "slab.mqo").string();
    std::ofstream(slab) << "Metasequoia Document\nFormat Text Ver 1.0\n\n"
                           "Material 1 {\n\t\"grey\" col(0.2 0.2 0.2 1)\n}\n"
                           "Object \"slab\" {\n\tvertex 8 {\n"
                           "\t\t-400 0 -300\n\t\t400 0 -300\n\t\t400 0 300\n\t\t-400 0 300\n"
                           "\t\t-400 30 -300\n\t\t400 30 -300\n\t\t400 30 300\n\t\t-400 30 300\n\t}\n"
                           "\tface 6 {\n"
                           "\t\t4 V(0 1 2 3) M(0)\n\t\t4 V(7 6 5 4) M(0)\n\t\t4 V(0 4 5 1) M(0)\n"
                           "\t\t4 V(1 5 6 2) M(0)\n\t\t4 V(2 6 7 3) M(0)\n\t\t4 V(3 7 4 0) M(0)\n\t}\n}\nEof\n";
    dialogs_.answers << QString::fromStdString(slab);
    window_->runCommand(kOpenMqo);
    window_->finishWork();
    ASSERT_NE(currentModel(), nullptr);
    expectFramed(window_->preview());

    // A flat, wide model from the corpus, the case a bounding sphere leaves small.
    const fs::path corpus = test::corpusDir();
    if (corpus.empty() || !fs::exists(corpus / "mqo/lsb/wyvern.mqo"))
        return;
    dialogs_.answers << QString::fromStdString(
        test::copyWithNeighbours(corpus / "mqo/lsb/wyvern.mqo", dir_.path()).string());
    window_->runCommand(kOpenMqo);
    window_->finishWork();
    ASSERT_NE(currentModel(), nullptr);
    expectFramed(window_->preview());
}

TEST_F(Window, F2SmoothsTheEdgesOnScreen) {
    if (!lib().antiAliasSupported)
        GTEST_SKIP() << "no 4-sample anti-aliasing in this context";
    dialogs_.answers << QString::fromStdString(copyFixture("mqo/small.mqo", "small.mqo"));
    window_->runCommand(kOpenMqo);
    window_->finishWork();
    PreviewWidget* view = window_->preview();
    if (lib().antiAliasOn)
        QTest::keyClick(view, Qt::Key_F2);
    ASSERT_FALSE(lib().antiAliasOn);
    // What the widget shows, not the scene's own buffer.
    const QImage off = view->grabFramebuffer();
    QTest::keyClick(view, Qt::Key_F2);
    ASSERT_TRUE(lib().antiAliasOn);
    const QImage on = view->grabFramebuffer();
    ASSERT_EQ(off.size(), on.size());
    int changed = 0;
    for (int y = 0; y < on.height(); ++y)
        for (int x = 0; x < on.width(); ++x)
            changed += off.pixel(x, y) != on.pixel(x, y);
    EXPECT_GT(changed, 100) << "edge pixels that anti-aliasing changed";
    EXPECT_TRUE(window_->statusText().contains("ON")) << window_->statusText().toStdString();
}

// Openbox on the test's display for the placement tests; null when there is none to start.
std::unique_ptr<QProcess> windowManager;

bool ensureWindowManager() {
    if (windowManager)
        return windowManager->state() == QProcess::Running;
    windowManager = std::make_unique<QProcess>();
    windowManager->start("openbox", {"--sm-disable"});
    if (!windowManager->waitForStarted(3000))
        return false;
    QTest::qWait(1000);  // until it manages the screen
    return windowManager->state() == QProcess::Running;
}

// A window started as the program starts it, from a settings file.
std::unique_ptr<MainWindow> startWindow(UserDialogs& dialogs, const std::string& settingsPath) {
    registry().releaseAll();
    auto window = std::make_unique<MainWindow>(dialogs, readSettings(settingsPath), settingsPath);
    MainWindow* w = window.get();
    auto started = std::make_shared<bool>(false);
    QObject::connect(w->preview(), &PreviewWidget::runtimeStarted, w, [started, w](bool ok) {
        *started = true;
        if (ok)
            w->finishStartUp({});
    });
    window->show();
    for (int i = 0; i < 1000 && !*started; ++i)
        QTest::qWait(10);
    QTest::qWait(800);  // framed and placed
    return window;
}

// The window manager's stacking order, bottom first; empty when xprop cannot say.
std::vector<WId> stackingOrder() {
    QProcess xprop;
    xprop.start("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
    std::vector<WId> order;
    if (!xprop.waitForFinished(3000))
        return order;
    const QString out = QString::fromLatin1(xprop.readAllStandardOutput());
    for (const QString& word : out.mid(out.indexOf('#') + 1).split(',', Qt::SkipEmptyParts))
        order.push_back(word.trimmed().toULongLong(nullptr, 16));
    return order;
}

// Whether the window manager stacks the panel above its window.
bool panelAbove(MainWindow& window) {
    const std::vector<WId> order = stackingOrder();
    const auto main = std::find(order.begin(), order.end(), window.winId());
    const auto panel = std::find(order.begin(), order.end(), window.panel()->winId());
    return main != order.end() && panel != order.end() && panel > main;
}

void expectNearRect(const QRect& got, const QRect& want, const char* what) {
    EXPECT_NEAR(got.left(), want.left(), 2) << what;
    EXPECT_NEAR(got.top(), want.top(), 2) << what;
    EXPECT_NEAR(got.width(), want.width(), 2) << what;
    EXPECT_NEAR(got.height(), want.height(), 2) << what;
}

TEST(WindowPlacement, FrameRectangleSurvivesRestartsUnderAWindowManager) {
    if (!ensureWindowManager())
        GTEST_SKIP() << "openbox could not be started";
    test::TempDir dir;
    test::ScopedEnv config("XDG_CONFIG_HOME", dir.path().string());
    const std::string path = (dir.path() / kSettingsFileName).string();
    ScriptedDialogs dialogs;
    QRect want;
    for (int run = 0; run < 4; ++run) {
        std::unique_ptr<MainWindow> window = startWindow(dialogs, path);
        ASSERT_NE(window->frameGeometry(), window->geometry()) << "the window manager framed no window";
        if (run == 0) {
            // The default: on the primary screen, centred.
            const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
            EXPECT_TRUE(screen.contains(window->frameGeometry())) << "run 0";
            EXPECT_NEAR(window->frameGeometry().center().x(), screen.center().x(), 2);
        } else {
            expectNearRect(window->frameGeometry(), want, "frame at start");
        }
        // The panel: shown, inside the window, above it; and after a move still inside.
        ConversionPanel* panel = window->panel();
        ASSERT_NE(panel, nullptr);
        EXPECT_TRUE(panel->isVisible());
        EXPECT_TRUE(window->frameGeometry().contains(panel->frameGeometry())) << "run " << run;
        EXPECT_TRUE(panelAbove(*window)) << "run " << run;
        // A click raises the window (the window manager does it, here the test); the panel
        // comes back above it.
        window->raise();
        QTest::qWait(200);
        QTest::mousePress(window->preview(), Qt::LeftButton, {}, QPoint(300, 300));
        QTest::mouseRelease(window->preview(), Qt::LeftButton, {}, QPoint(300, 300));
        QTRY_VERIFY_WITH_TIMEOUT(panelAbove(*window), 3000);
        window->close();
        const SettingsFile stored = readSettings(path);
        expectNearRect({stored.windowLeft, stored.windowTop, stored.windowWidth, stored.windowHeight},
                       window->frameGeometry(), "stored rectangle");
        window.reset();
        // From the first restart on: a place of our own, then where the last run left it.
        SettingsFile next = readSettings(path);
        if (run == 0) {
            next.windowLeft = 150;
            next.windowTop = 60;
            ASSERT_FALSE(writeSettings(path, next));
        }
        want = QRect(next.windowLeft, next.windowTop, next.windowWidth, next.windowHeight);
    }
}

TEST(WindowPlacement, PanelFollowsTheWindowAndARectangleOffEveryScreenIsReplaced) {
    test::TempDir dir;
    test::ScopedEnv config("XDG_CONFIG_HOME", dir.path().string());
    const std::string path = (dir.path() / kSettingsFileName).string();
    SettingsFile far;
    far.windowLeft = 5000;
    far.windowTop = 4000;
    far.windowWidth = 900;
    far.windowHeight = 560;
    ASSERT_FALSE(writeSettings(path, far));
    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window = startWindow(dialogs, path);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.intersects(window->frameGeometry()));
    EXPECT_NEAR(window->frameGeometry().center().x(), screen.center().x(), 2);

    ConversionPanel* panel = window->panel();
    ASSERT_NE(panel, nullptr);
    const QPoint moved = window->frameGeometry().topLeft() + QPoint(-60, -40);
    window->move(moved);
    QTRY_COMPARE_WITH_TIMEOUT(window->frameGeometry().topLeft(), moved, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(panel->frameGeometry().topLeft(), moved + QPoint(32, 172), 5000);
    EXPECT_TRUE(window->frameGeometry().contains(panel->frameGeometry()));
    // Hidden by the user, brought back from the menu.
    panel->hide();
    window->runCommand(kShowPanel);
    EXPECT_TRUE(panel->isVisible());
    window->close();
}

TEST(WindowLanguage, EnglishUnlessTheLocaleAsksForJapanese) {
    EXPECT_FALSE(localeAsksForJapanese(nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(localeAsksForJapanese(nullptr, nullptr, nullptr, "en_GB.UTF-8"));
    EXPECT_TRUE(localeAsksForJapanese(nullptr, nullptr, nullptr, "ja_JP.UTF-8"));
    EXPECT_TRUE(localeAsksForJapanese("", "", "ja_JP.UTF-8", "en_US.UTF-8"));  // empty counts as unset
    EXPECT_FALSE(localeAsksForJapanese(nullptr, "C", "ja_JP.UTF-8", nullptr));  // LC_ALL wins
    EXPECT_TRUE(localeAsksForJapanese("ja:en", "en_US.UTF-8", nullptr, nullptr));  // LANGUAGE first
    EXPECT_FALSE(localeAsksForJapanese("en:ja", nullptr, nullptr, "ja_JP.UTF-8"));

    auto menuTextsWith = [](const char* lang) {
        test::ScopedEnv language("LANGUAGE", std::nullopt), all("LC_ALL", std::nullopt),
            messages("LC_MESSAGES", std::nullopt), locale("LANG", std::string(lang));
        EXPECT_TRUE(installWindowTranslation(*QCoreApplication::instance())) << lang;
        ScriptedDialogs dialogs;
        QStringList texts;
        {
            MainWindow window(dialogs, SettingsFile{}, std::string());
            texts << window.menuBar()->actions()[0]->text() << window.action(kOpenAny)->text()
                  << window.action(kExit)->text();
        }
        for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
        return texts;
    };
    EXPECT_EQ(menuTextsWith("en_US.UTF-8"), (QStringList{"File", "Open", "Quit"}));
    EXPECT_EQ(menuTextsWith("ja_JP.UTF-8"), (QStringList{"ファイル", "読み込み", "　終了"}));
}

// Measurements, run by hand: --gtest_also_run_disabled_tests --gtest_filter='*Measure*', with
// REVIZEVOZ_MEASURE_MODEL=a big .kzp or else a 65,000-quad one made here. Prints the time to the
// first frame with the model, frame times and processor use while orbiting and while idle, and a
// batch of every corpus file with the frames drawn meanwhile.
TEST_F(Window, DISABLED_MeasureOrbitAndCorpusBatch) {
    std::string big;
    if (const char* given = std::getenv("REVIZEVOZ_MEASURE_MODEL")) {
        big = given;
    } else {
        big = (dir_.path() / "quads.kzp").string();
        ASSERT_TRUE(saveModel(test::makeQuadGrid(65000), ConversionTarget::Kzp, big).ok);
    }
    QElapsedTimer clock;
    clock.start();
    dialogs_.answers << QString::fromStdString(big);
    window_->runCommand(kOpenKzp);
    window_->finishWork();
    const int before = window_->preview()->framesDrawn();
    QTRY_VERIFY_WITH_TIMEOUT(window_->preview()->framesDrawn() > before, 20000);
    std::printf("load to first frame with the model: %lld ms\n", (long long)clock.elapsed());

    // Orbit: right button held, 120 moves, one frame each.
    PreviewWidget* view = window_->preview();
    QTest::mousePress(view, Qt::RightButton, {}, QPoint(400, 300));
    const double orbitCpu = processCpuSeconds();
    QElapsedTimer orbitClock;
    orbitClock.start();
    std::vector<double> frames;
    for (int i = 0; i < 120; ++i) {
        QMouseEvent move(QEvent::MouseMove, QPointF(400 + i * 3, 300), view->mapToGlobal(QPointF(400 + i * 3, 300)),
                         Qt::NoButton, Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &move);
        view->repaint();
        frames.push_back(view->lastFrameMilliseconds());
    }
    const double orbitCores = (processCpuSeconds() - orbitCpu) / (double(orbitClock.nsecsElapsed()) * 1e-9);
    QTest::mouseRelease(view, Qt::RightButton, {}, QPoint(760, 300));
    std::sort(frames.begin(), frames.end());
    std::printf("orbit frames: median %.1f ms, 90th percentile %.1f ms, %.0f %% of one core\n",
                frames[frames.size() / 2], frames[frames.size() * 9 / 10], orbitCores * 100);
    // Orbiting as a hand does: a move every 16 ms for 3 s, frames drawn as they fall due.
    QTest::mousePress(view, Qt::RightButton, {}, QPoint(400, 300));
    const int handFrames = view->framesDrawn();
    const double handCpu = processCpuSeconds();
    for (int i = 0; i < 188; ++i) {
        const QPointF at(400 + (i % 100) * 2, 300);
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &move);
        QTest::qWait(16);
    }
    std::printf("orbit by hand: %d frames in 3 s, %.0f %% of one core\n", view->framesDrawn() - handFrames,
                (processCpuSeconds() - handCpu) / 3 * 100);
    QTest::mouseRelease(view, Qt::RightButton, {}, QPoint(600, 300));
    QTest::qWait(500);
    const double idleCpu = processCpuSeconds();
    const int idleFrames = view->framesDrawn();
    QTest::qWait(4000);
    std::printf("idle with the model: %.1f %% of one core, %d frames (a motion plays: %d)\n",
                (processCpuSeconds() - idleCpu) / 4 * 100, view->framesDrawn() - idleFrames, int(view->animating()));

    // Every corpus file, copied, dropped at once with target X.
    const fs::path corpus = test::corpusDir();
    if (corpus.empty())
        return;
    QStringList files;
    int n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || ext == ".md" || ext == ".png" || ext == ".jpg" || ext == ".tga" ||
            ext == ".bmp")
            continue;
        const fs::path folder = dir_.path() / std::to_string(n++);
        fs::create_directories(folder);
        files << QString::fromStdString(test::copyWithNeighbours(entry.path(), folder).string());
    }
    window_->panel()->buttons()->button(1443)->click();
    const int framesBefore = view->framesDrawn();
    clock.restart();
    window_->dropFiles(files);
    std::vector<double> during;
    const char* shots = std::getenv("REVIZEVOZ_SCREENSHOTS");
    bool shotTaken = false;
    while (window_->batchRunning()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        during.push_back(view->lastFrameMilliseconds());
        if (shots && !shotTaken && window_->statusText().contains(" / ") && clock.elapsed() > 500) {
            window_->grab().save(QString(shots) + "/during-drop.png");
            shotTaken = true;
        }
    }
    if (shots) {
        QTest::qWait(300);
        window_->grab().save(QString(shots) + "/after-drop.png");
    }
    const double seconds = double(clock.elapsed()) / 1000;
    std::sort(during.begin(), during.end());
    std::printf("batch: %d files in %.2f s (%.1f files/s), %d frames drawn meanwhile, frame median %.1f ms\n",
                int(files.size()), seconds, double(files.size()) / seconds, view->framesDrawn() - framesBefore,
                during.empty() ? 0.0 : during[during.size() / 2]);
    dialogs_.messages.clear();
}

}  // namespace
}  // namespace rv

int main(int argc, char** argv) {
    rv::setPreviewSurfaceFormat();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (rv::windowManager) {
        rv::windowManager->terminate();
        rv::windowManager->waitForFinished(3000);
        rv::windowManager.reset();
    }
    return result;
}
