// Model slots with their preview instances, and the load pipeline that fills them through the
// background loader.
#pragma once

#include <array>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/loader.h"
#include "model/model.h"
#include "runtime/image.h"

namespace rv {

struct BoneRecord {
    std::array<float, 16> matrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

// The preview's run-time state for one slot.
struct ModelInstance {
    bool sized = false;
    int slot = -1;
    std::vector<BoneRecord> bones;
    std::vector<int> groupState;
    std::vector<Image> textures;       // decoded images, uploaded by the preview
    std::vector<int> textureState;
    // Outcome of the last load request of this slot.
    bool loadFinished = false;
    std::string loadError;
    std::vector<std::string> loadWarnings;
};

class ModelRegistry {
public:
    ModelRegistry();
    ~ModelRegistry();
    ModelRegistry(const ModelRegistry&) = delete;
    ModelRegistry& operator=(const ModelRegistry&) = delete;

    int create();
    int createForLoad();  // next create preallocates (the switch is consumed)
    void setPreallocate(bool on) { preallocate_ = on; }
    void requestRelease(int slot);
    // Frees released models; skipped while the loader queue holds requests.
    void collect();
    void releaseAll();

    Model* get(int slot);
    ModelInstance* instance(int slot);
    int count();
    bool isLoaded(int slot);

    // Creates a slot, queues the load of `fileName` in `folder` and waits until the loader has
    // finished it. -1 when the file cannot be opened.
    int loadFile(const std::string& folder, const std::string& fileName);
    // Waits until the loader has finished the request of `slot`, successfully or not.
    void waitLoaded(int slot);

    bool copyModel(int fromSlot, int toSlot, bool reallocate);
    void sizeInstance(int slot);

    LibDataLoader& loader() { return loader_; }

    // What the loader runs for each request once the model's folder, fileName and path are set:
    // the conversion driver's load dispatch.
    using LoadDispatch = std::function<void(int slot, const std::string& path)>;
    void setLoadDispatch(LoadDispatch dispatch);

private:
    void runLoad(const LoadRequest& request);
    void finishLoad(const LoadRequest& request);
    void sizeInstanceLocked(int slot);

    std::mutex mutex_;
    std::condition_variable loadDone_;
    std::vector<std::unique_ptr<Model>> slots_;
    std::vector<std::unique_ptr<ModelInstance>> instances_;
    bool preallocate_ = false;
    LoadDispatch dispatch_;
    // Declared last: destroyed first, so the worker is joined before the slots go.
    LibDataLoader loader_;
};

// The process's registry.
ModelRegistry& registry();

}  // namespace rv
