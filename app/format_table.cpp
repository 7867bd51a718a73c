#include "app/format_table.h"

#include "formats/dxf/dxf.h"
#include "formats/gltf/gltf.h"
#include "formats/kzp/kzp.h"
#include "formats/lwo/lwo.h"
#include "formats/mqo/mqo.h"
#include "formats/mx/mx.h"
#include "formats/obj/obj.h"
#include "formats/rok/rok.h"
#include "formats/x/x.h"
#include "runtime/paths.h"

// Marks texts for Qt's translation tools without needing Qt here; the window translates them in
// the "rv::MainWindow" context.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, text) text
#endif

namespace rv {

namespace {

// In the order extensions are compared and the CLI lists them; the native format last.
constexpr ReaderEntry kReaders[] = {
    {"dxf", readDxf, false, nullptr, "DXF", kOpenDxf, QT_TRANSLATE_NOOP("rv::MainWindow", "読み込み ( DXF )"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込む DXF ファイルを選択して下さい"), "\t\tDXF"},
    {"lwo", readLwo, false, nullptr, "LWO", kOpenLwo,
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込み ( LWO -> LightWave 5.6 )"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込む LWO ファイルを選択して下さい"), "\t\tLWO ( LightWave 5.6 )"},
    {"mqo", readMqo, false, nullptr, "MQO", kOpenMqo,
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込み ( MQO -> メタセコイア 2.2.3～4.4.3 )"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込む MQO ファイルを選択して下さい"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "\t\tMQO ( メタセコイア 2.2.3 )")},
    {"mx", readMx, false, scaleMxUvsToTextures, "MX", kOpenMx,
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込み ( MX -> HSP 2.55 )"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込む MX ファイルを選択して下さい"), "\t\tMX　 ( HSP 2.55 )"},
    {"rok", readRok, false, nullptr, "ROK", kOpenRok,
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込み ( ROK -> 六角大王 5.25 )"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込む ROK ファイルを選択して下さい"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "\t\tROK ( 六角大王 5.25 )")},
    {"x", readX, false, nullptr, "X", kOpenX, QT_TRANSLATE_NOOP("rv::MainWindow", "読み込み ( X -> DirectX 9.0 )"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込む X ファイルを選択して下さい"), "\t\tX　　 ( DirectX )"},
    {"glb", readGltf, false, nullptr, "glTF", kOpenGltf,
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込み ( glTF -> glTF 2.0 )"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込む glTF ファイルを選択して下さい"), "\t\tglTF ( glTF 2.0 )"},
    // The text form shares the binary one's menu item and dialog filter.
    {"gltf", readGltf, false, nullptr, "glTF", 0, nullptr, nullptr, nullptr},
    {"obj", readObj, false, nullptr, "OBJ", kOpenObj,
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込み ( OBJ -> Wavefront )"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込む OBJ ファイルを選択して下さい"), "\t\tOBJ ( Wavefront )"},
    {"kzp", readKzp, true, nullptr, "KZP", kOpenKzp,
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込み ( KZP -> 2004 ～ 2009 )"),
     QT_TRANSLATE_NOOP("rv::MainWindow", "読み込む KZP ファイルを選択して下さい"), "KZP ( DE Reziru )"},
};

constexpr unsigned kKeepsMeshes = kKeepsTextures | kKeepsNormals | kKeepsUVs;

constexpr WriterEntry kWriters[] = {
    {ConversionTarget::Kzp, "KZP", writeKzp, "KZP", kKeepsAll, kSaveKzp,
     QT_TRANSLATE_NOOP("rv::MainWindow", "　保存　  ( KZP 2009 -> DE Reziru )"), "KZP",
     QT_TRANSLATE_NOOP("rv::MainWindow", "新規.KZP"), "KZP", "KZP"},
    {ConversionTarget::Lwo, "LWO", writeLwo, "LWOB", 0, kSaveLwo,
     QT_TRANSLATE_NOOP("rv::MainWindow", "　保存　  ( LWO -> LightWave 5.6 )"), "LWO",
     QT_TRANSLATE_NOOP("rv::MainWindow", "新規.lwo"), "lwo", "LWO"},
    {ConversionTarget::Mx, "MX", writeMx, "MX", kKeepsMeshes, kSaveMx,
     QT_TRANSLATE_NOOP("rv::MainWindow", "　保存　  ( MX -> HSP 2.55 )"), "MX",
     QT_TRANSLATE_NOOP("rv::MainWindow", "新規.mx"), "mx", "MX"},
    {ConversionTarget::X, "X", writeX, "DirectX .x", kKeepsMeshes, kSaveX,
     QT_TRANSLATE_NOOP("rv::MainWindow", "　保存　  ( X -> DirectX 9.0 )"), "X",
     QT_TRANSLATE_NOOP("rv::MainWindow", "新規.x"), "x", "X"},
    {ConversionTarget::Glb, "glb", writeGlb, "glTF", kKeepsAll, kSaveGltf,
     QT_TRANSLATE_NOOP("rv::MainWindow", "　保存　  ( glTF 2.0 )"), "GLB",
     QT_TRANSLATE_NOOP("rv::MainWindow", "新規.glb"), "glb", "glTF"},
    {ConversionTarget::Gltf, "gltf", writeGltf, "glTF", kKeepsAll, 0, nullptr, "GLTF", nullptr, "gltf", nullptr},
    {ConversionTarget::Obj, "obj", writeObj, "OBJ", kKeepsMeshes, kSaveObj,
     QT_TRANSLATE_NOOP("rv::MainWindow", "　保存　  ( OBJ )"), "OBJ", QT_TRANSLATE_NOOP("rv::MainWindow", "新規.obj"),
     "obj", "OBJ"},
    {ConversionTarget::Mqo, "mqo", writeMqo, "MQO", kKeepsTextures | kKeepsUVs, kSaveMqo,
     QT_TRANSLATE_NOOP("rv::MainWindow", "　保存　  ( MQO -> メタセコイア )"), "MQO",
     QT_TRANSLATE_NOOP("rv::MainWindow", "新規.mqo"), "mqo", "MQO"},
};

}  // namespace

std::span<const ReaderEntry> readerTable() { return kReaders; }

std::vector<const ReaderEntry*> readersInMenuOrder() {
    std::vector<const ReaderEntry*> order;
    order.push_back(&kReaders[std::size(kReaders) - 1]);
    for (std::size_t i = 0; i + 1 < std::size(kReaders); ++i)
        if (kReaders[i].openCommand != 0)
            order.push_back(&kReaders[i]);
    return order;
}
std::span<const WriterEntry> writerTable() { return kWriters; }

const WriterEntry& writerFor(ConversionTarget target) { return kWriters[static_cast<int>(target)]; }

const ReaderEntry* readerForName(const std::string& name) {
    const std::string ext = extensionOf(fileNameOf(name));
    for (const ReaderEntry& entry : kReaders)
        if (equalsIgnoreCase(ext, entry.extension))
            return &entry;
    return nullptr;
}

bool parseTarget(const std::string& text, ConversionTarget& target) {
    for (const WriterEntry& entry : kWriters) {
        if (equalsIgnoreCase(text, entry.extension)) {
            target = entry.target;
            return true;
        }
    }
    return false;
}

}  // namespace rv
