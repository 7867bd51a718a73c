// Model slots with their preview instances. Loads run on the background loader; the registry
// installs their results into slots and keeps the slot bookkeeping.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "model/instance.h"
#include "model/loader.h"
#include "model/model.h"

namespace rv {

// A load under way: its slot and the loader's result to come.
struct PendingLoad {
    int slot = -1;
    std::future<LoadedModel> result;
    bool ready() const;  // the loader has finished with it
};

// What a load into a slot came to. The model itself is in the slot.
struct SlotLoad {
    int slot = -1;  // -1 when the load failed
    std::string failure;  // the loader's own reason, when it could not run the work
};

class ModelRegistry {
public:
    ModelRegistry();
    ~ModelRegistry();
    ModelRegistry(const ModelRegistry&) = delete;
    ModelRegistry& operator=(const ModelRegistry&) = delete;

    // A new, reset model in the first free slot (or a new one at the end).
    int create();
    void requestRelease(int slot);
    // Frees released models; skipped while the loader queue holds requests.
    void collect();
    void releaseAll();

    Model* get(int slot);
    ModelInstance* instance(int slot);
    int count();
    bool isLoaded(int slot);

    // Creates a slot, runs `work` on the loader and waits until it has finished, successfully or
    // not; then installs its model and instance into the slot. A failed load releases the slot.
    SlotLoad loadFile(LoadWork work);
    // The same in two halves, for a window that keeps drawing while the loader works: the slot
    // is created and the work queued; finishLoad waits when the work has not finished yet.
    PendingLoad beginLoad(LoadWork work);
    SlotLoad finishLoad(PendingLoad& pending);

    bool copyModel(int fromSlot, int toSlot, bool reallocate);

    LibDataLoader& loader() { return loader_; }

private:
    struct Slot {
        std::unique_ptr<Model> model;
        ModelInstance instance;
        bool inUse = false;
        bool loaded = false;
        bool releaseRequested = false;
    };
    Slot* slotLocked(int slot);

    std::mutex mutex_;
    std::vector<Slot> slots_;
    // Declared last: destroyed first, so the worker is joined before the slots go.
    LibDataLoader loader_;
};

// The process's registry.
ModelRegistry& registry();

}  // namespace rv
