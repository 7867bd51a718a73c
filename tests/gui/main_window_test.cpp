// The window as a user drives it, with the dialogs answered by the test. Runs under Xvfb: the
// preview needs an OpenGL context.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QRadioButton>
#include <QSurfaceFormat>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/main_window.h"
#include "formats/kzp/kzp.h"
#include "model/registry.h"
#include "runtime/library.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

struct ScriptedDialogs : UserDialogs {
    QStringList answers;  // file names, in the order asked
    QStringList openFolders, titles, messages;
    bool confirmAnswer = false;
    int confirms = 0;
    QString openFile(QWidget*, const QString& title, const QString& folder, const QStringList&,
                     const QString&) override {
        titles << title;
        openFolders << folder;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString saveFile(QWidget*, const QString& title, const QString&, const QString&, const QString&,
                     const QString&) override {
        titles << title;
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
    QStringList startArguments_;  // the command line after the program name
    ScriptedDialogs dialogs_;
    std::unique_ptr<MainWindow> window_;
};

// A file manager passes every file the user opened with the program, in any of the seven formats.
class WindowStartedWithFiles : public Window {
protected:
    void SetUp() override {
        for (const auto& [from, name] : {std::pair{"mqo/small.mqo", "notes.txt"}, {"mqo/small.mqo", "a.mqo"},
                                         {"kzp/two_groups_2009000.kzp", "b.kzp"}})
            startArguments_ << QString::fromStdString(copyFixture(from, name));
        Window::SetUp();
    }
};

TEST_F(WindowStartedWithFiles, OpensTheFirstFileOfAFormatItReads) {
    QTRY_VERIFY_WITH_TIMEOUT(currentModel() != nullptr, 10000);
    EXPECT_EQ(currentModel()->fileName, "a.mqo");
    EXPECT_TRUE(dialogs_.messages.isEmpty()) << dialogs_.messages.join("\n").toStdString();
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
        {40024, "　保存　  ( KZP 2009 -> DE Reziru )"},
        {40048, "　保存　  ( LWO -> LightWave 5.6 )"},
        {40045, "　保存　  ( MX -> HSP 2.55 )"},
        {40054, "　保存　  ( X -> DirectX 9.0 )"},
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
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0]->text(), "ファイル");
    const QList<QAction*> file = top[0]->menu()->actions();
    // Eight loads, a separator, six saves, a separator, exit.
    ASSERT_EQ(file.size(), 17);
    EXPECT_TRUE(file[8]->isSeparator());
    EXPECT_TRUE(file[15]->isSeparator());
}

TEST_F(Window, PanelStartsAtKzpAndPicksTheTarget) {
    ConversionPanel* panel = window_->panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowTitle(), "変換後");
    EXPECT_TRUE(panel->buttons()->button(1440)->isChecked());
    EXPECT_EQ(panel->target(), ConversionTarget::Kzp);
    panel->buttons()->button(1442)->click();
    EXPECT_EQ(panel->target(), ConversionTarget::Mx);
    EXPECT_EQ(panel->size(), QSize(68, 116));
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
    EXPECT_TRUE(dialogs_.messages.back().contains("notes.txt: not a model file")) << dialogs_.messages.back().toStdString();
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
    EXPECT_EQ(dialogs_.openFolders[0], QCoreApplication::applicationDirPath());
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

TEST_F(Window, SaveCommandsWriteTheirFormatsIncludingGltfAndObj) {
    window_->runCommand(kSaveKzp);  // no current model: no dialog, nothing written
    EXPECT_TRUE(dialogs_.titles.isEmpty());
    dialogs_.answers << QString::fromStdString(copyFixture("mqo/small.mqo", "small.mqo"));
    window_->runCommand(kOpenMqo);
    window_->finishWork();
    ASSERT_NE(currentModel(), nullptr);
    const std::pair<int, const char*> saves[] = {{kSaveLwo, "s.lwo"}, {kSaveGltf, "s.glb"}, {kSaveObj, "s.obj"}};
    for (const auto& [command, name] : saves) {
        dialogs_.answers << QString::fromStdString((dir_.path() / name).string());
        window_->runCommand(command);
        EXPECT_TRUE(fs::exists(dir_.path() / name)) << name;
    }
    EXPECT_TRUE(fs::exists(dir_.path() / "s.mtl"));
    EXPECT_EQ(window_->action(kSaveGltf)->text(), "　保存　  ( glTF 2.0 )");
    EXPECT_EQ(window_->action(kSaveObj)->text(), "　保存　  ( OBJ )");
    // The open tells of the missing texture, each save of what it could not keep.
    ASSERT_GE(dialogs_.messages.size(), 2) << dialogs_.messages.join("\n").toStdString();
    EXPECT_TRUE(dialogs_.messages[0].contains("wood.png")) << dialogs_.messages[0].toStdString();
    EXPECT_TRUE(dialogs_.messages[1].contains("s.lwo: textures, normals and texture coordinates are not kept by LWOB"))
        << dialogs_.messages[1].toStdString();
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
    QTRY_VERIFY_WITH_TIMEOUT(window_->preview()->framesDrawn() > 2, 10000);
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

// Measurements, run by hand: --gtest_also_run_disabled_tests --gtest_filter='*Measure*' with
// REVIZEVOZ_MEASURE_MODEL=a big .kzp. Prints the time to the first frame with the model, frame
// times while orbiting, and a batch of every corpus file with the frames drawn meanwhile.
TEST_F(Window, DISABLED_MeasureOrbitAndCorpusBatch) {
    const char* big = std::getenv("REVIZEVOZ_MEASURE_MODEL");
    ASSERT_NE(big, nullptr) << "set REVIZEVOZ_MEASURE_MODEL";
    QElapsedTimer clock;
    clock.start();
    dialogs_.answers << QString::fromUtf8(big);
    window_->runCommand(kOpenKzp);
    window_->finishWork();
    const int before = window_->preview()->framesDrawn();
    QTRY_VERIFY_WITH_TIMEOUT(window_->preview()->framesDrawn() > before, 20000);
    std::printf("load to first frame with the model: %lld ms\n", (long long)clock.elapsed());

    // Orbit: right button held, 120 moves, one frame each.
    PreviewWidget* view = window_->preview();
    QTest::mousePress(view, Qt::RightButton, {}, QPoint(400, 300));
    std::vector<double> frames;
    for (int i = 0; i < 120; ++i) {
        QMouseEvent move(QEvent::MouseMove, QPointF(400 + i * 3, 300), view->mapToGlobal(QPointF(400 + i * 3, 300)),
                         Qt::NoButton, Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &move);
        view->repaint();
        frames.push_back(view->lastFrameMilliseconds());
    }
    QTest::mouseRelease(view, Qt::RightButton, {}, QPoint(760, 300));
    std::sort(frames.begin(), frames.end());
    std::printf("orbit frames: median %.1f ms, 90th percentile %.1f ms\n", frames[frames.size() / 2],
                frames[frames.size() * 9 / 10]);

    // Every corpus file, copied, dropped at once with target X.
    const fs::path corpus = test::corpusDir();
    if (corpus.empty())
        return;
    QStringList files;
    int n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || ext == ".md" || ext == ".png" || ext == ".jpg" || ext == ".tga" || ext == ".bmp")
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
    return RUN_ALL_TESTS();
}
