// Every format the converter reads or writes, in one table each: extensions, readers, writers,
// what a target keeps, and the menu items, dialogs and panel buttons the window builds from them.
// The CLI's help and parsing come from the same tables.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "formats/common/format_io.h"

namespace rv {

// The panel offers KZP, LWO, MX, X, glTF (.glb), OBJ and MQO; .gltf is for the command line.
enum class ConversionTarget { Kzp = 0, Lwo = 1, Mx = 2, X = 3, Glb = 4, Gltf = 5, Obj = 6, Mqo = 7 };

// The window's menu command ids.
enum MenuCommand {
    kOpenAny = 40092,
    kOpenKzp = 40023,
    kOpenDxf = 40046,
    kOpenLwo = 40032,
    kOpenMqo = 40062,
    kOpenMx = 40044,
    kOpenRok = 40047,
    kOpenX = 40053,
    kOpenGltf = 40106,
    kOpenObj = 40107,
    kSaveKzp = 40024,
    kSaveLwo = 40048,
    kSaveMx = 40045,
    kSaveX = 40054,
    kSaveGltf = 40101,
    kSaveObj = 40102,
    kSaveMqo = 40108,
    kExit = 40007,
    kDownload = 40010,
    kSaveTarget = 40103,  // the panel's target, with the save dialog
    kShowPanel = 40104,
    kHelpKeys = 40105,
    kRecentFirst = 40200,  // kRecentFirst + n opens recent file n
};

struct ReaderEntry {
    const char* extension;  // matched without regard to case
    ReadFn read;
    bool startsFirstMotion;  // models of the format play motion 0 once loaded
    // Run on the model once its textures are decoded (their sizes known), with the file's bytes.
    void (*postDecode)(Model& model, std::span<const std::byte> file);
    // The window: the format's name in dialogs, its open item, the dialog's title, and its entry
    // in the open-any dialog's filter list (Japanese source texts, translated by the window). A
    // second extension of a format has no open item (0) and shares the first one's.
    const char* name;
    int openCommand;
    const char* openItem;
    const char* openTitle;
    const char* anyFilterLabel;
};

// What a target's file holds of a model, beyond positions, polygons and groups.
enum TargetKeeps : unsigned {
    kKeepsTextures = 1u << 0,
    kKeepsNormals = 1u << 1,
    kKeepsUVs = 1u << 2,
    kKeepsSkeleton = 1u << 3,  // bones, skin weights and motions
    kKeepsAll = ~0u,
};

struct WriterEntry {
    ConversionTarget target;
    const char*
        extension;  // of the output: "KZP", "LWO", "MX", "X", "glb", "gltf", "obj", "mqo"; any case names the target
    WriteFn write;
    const char* formatName;  // as loss warnings name it
    unsigned keeps;  // TargetKeeps
    // The window: the save item (0 for none), the save dialog's format name, the initial name
    // without a current model and the extension given to the model's name, the panel's button
    // (null for none).
    int saveCommand;
    const char* saveItem;
    const char* dialogFormat;
    const char* initialName;
    const char* initialExtension;
    const char* panelLabel;
};

// The readers, in the order extensions are compared and the CLI lists them.
std::span<const ReaderEntry> readerTable();
// The readers as the window's menu and dialogs list them, one per format: the native KZP first.
std::vector<const ReaderEntry*> readersInMenuOrder();
// The writers, in target order.
std::span<const WriterEntry> writerTable();
const WriterEntry& writerFor(ConversionTarget target);
// The reader for a file name's extension, or null when it is none of the formats read.
const ReaderEntry* readerForName(const std::string& name);
// Parses a writer's extension in any case ("kzp", "LWO", ...).
bool parseTarget(const std::string& text, ConversionTarget& target);

}  // namespace rv
