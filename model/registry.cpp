#include "model/registry.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "model/mesh.h"
#include "runtime/log.h"

namespace rv {

namespace {

std::string baseDirectory() {
    std::error_code ec;
    const auto cwd = std::filesystem::current_path(ec);
    return ec ? std::string() : cwd.string();
}

}  // namespace

ModelRegistry::ModelRegistry() {
    loader_.start([this](const LoadRequest& request) { runLoad(request); },
                  [this](const LoadRequest& request) { finishLoad(request); });
}

ModelRegistry::~ModelRegistry() = default;

ModelRegistry& registry() {
    static ModelRegistry instance;
    return instance;
}

void ModelRegistry::setLoadDispatch(LoadDispatch dispatch) {
    std::lock_guard lock(mutex_);
    dispatch_ = std::move(dispatch);
}

int ModelRegistry::create() {
    std::lock_guard lock(mutex_);
    std::size_t slot = 0;
    while (slot < slots_.size() && slots_[slot] && (slots_[slot]->inUse || slots_[slot]->releaseRequested))
        ++slot;
    if (slot == slots_.size()) {
        slots_.emplace_back();
        instances_.push_back(std::make_unique<ModelInstance>());
    }
    // Preallocation only switches on the readers' capacity limits; tables grow as they fill.
    preallocate_ = false;
    auto model = std::make_unique<Model>();
    model->folder = baseDirectory();
    model->path = model->folder + "/" + model->fileName;
    model->slotId = int(slot);
    model->inUse = 1;
    slots_[slot] = std::move(model);
    *instances_[slot] = ModelInstance{};
    instances_[slot]->slot = int(slot);
    sizeInstanceLocked(int(slot));
    return int(slot);
}

int ModelRegistry::createForLoad() {
    preallocate_ = true;
    return create();
}

void ModelRegistry::requestRelease(int slot) {
    if (Model* model = get(slot))
        model->releaseRequested = 1;
}

void ModelRegistry::collect() {
    std::lock_guard lock(mutex_);
    if (!loader_.queueEmpty())
        return;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i] && slots_[i]->inUse && slots_[i]->releaseRequested) {
            slots_[i].reset();
            *instances_[i] = ModelInstance{};
        }
    }
}

void ModelRegistry::releaseAll() {
    std::lock_guard lock(mutex_);
    slots_.clear();
    instances_.clear();
}

Model* ModelRegistry::get(int slot) {
    std::lock_guard lock(mutex_);
    if (slot < 0 || std::size_t(slot) >= slots_.size())
        return nullptr;
    return slots_[slot].get();
}

ModelInstance* ModelRegistry::instance(int slot) {
    std::lock_guard lock(mutex_);
    if (slot < 0 || std::size_t(slot) >= instances_.size())
        return nullptr;
    return instances_[slot].get();
}

int ModelRegistry::count() {
    std::lock_guard lock(mutex_);
    return int(slots_.size());
}

bool ModelRegistry::isLoaded(int slot) {
    const Model* model = get(slot);
    return model && model->inUse && model->loaded;
}

void ModelRegistry::sizeInstance(int slot) {
    std::lock_guard lock(mutex_);
    sizeInstanceLocked(slot);
}

void ModelRegistry::sizeInstanceLocked(int slot) {
    if (slot < 0 || std::size_t(slot) >= slots_.size() || !slots_[slot])
        return;
    const Model& model = *slots_[slot];
    ModelInstance& inst = *instances_[slot];
    inst.sized = true;
    inst.bones.resize(std::size_t(std::clamp(model.boneCount, 0, kMaxBones)));
    inst.groupState.resize(model.groups.size());
    inst.textures.resize(model.textures.size());
    inst.textureState.resize(model.textures.size());
}

int ModelRegistry::loadFile(const std::string& folder, const std::string& fileName) {
    const int slot = create();
    {
        std::lock_guard lock(mutex_);
        instances_[slot]->loadFinished = false;
    }
    if (!loader_.enqueue(slot, folder, fileName))
        return -1;
    waitLoaded(slot);
    return slot;
}

void ModelRegistry::runLoad(const LoadRequest& request) {
    LoadDispatch dispatch;
    Model* model = nullptr;
    {
        std::lock_guard lock(mutex_);
        dispatch = dispatch_;
        if (request.slot >= 0 && std::size_t(request.slot) < slots_.size())
            model = slots_[request.slot].get();
    }
    if (model) {
        model->folder = request.directory;
        model->fileName = request.fileName;
        model->path = request.path;
        if (dispatch)
            dispatch(request.slot, request.path);
    }
}

void ModelRegistry::finishLoad(const LoadRequest& request) {
    {
        std::lock_guard lock(mutex_);
        if (request.slot >= 0 && std::size_t(request.slot) < instances_.size())
            instances_[request.slot]->loadFinished = true;
    }
    loadDone_.notify_all();
}

void ModelRegistry::waitLoaded(int slot) {
    if (slot < 0)
        return;
    using namespace std::chrono;
    std::unique_lock lock(mutex_);
    auto finished = [&] {
        return std::size_t(slot) >= instances_.size() || instances_[slot]->loadFinished;
    };
    // The original gave up after 600 idle rounds of 1 ms; the line is still logged then, but the
    // wait goes on until the loader has finished with the slot.
    if (!loadDone_.wait_for(lock, milliseconds(600), finished)) {
        lock.unlock();
        LogLine("*** Error *** Model3 Load TimeOut:%d", slot);
        lock.lock();
        loadDone_.wait(lock, finished);
    }
}

bool ModelRegistry::copyModel(int fromSlot, int toSlot, bool reallocate) {
    if (fromSlot < 0 || toSlot < 0 || fromSlot > 255 || toSlot > 255)
        return false;
    Model* from = get(fromSlot);
    Model* to = get(toSlot);
    if (!from || !to)
        return false;
    // Tables are vectors: a copy always sizes them to the source, whichever way was asked.
    (void)reallocate;
    const int slotId = to->slotId;
    *to = *from;
    to->slotId = slotId;
    return true;
}

}  // namespace rv
