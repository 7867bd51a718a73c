#include "model/registry.h"

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

// The time-out is logged after 600 ms, but the wait goes on until the loader has finished with
// the request: nothing may touch a model the loader is still filling.
LoadedModel waitFor(std::future<LoadedModel>& pending, int slot) {
    using namespace std::chrono;
    if (pending.wait_for(milliseconds(600)) != std::future_status::ready)
        LogLine("*** Error *** Model3 Load TimeOut:%d", slot);
    return pending.get();
}

}  // namespace

ModelRegistry::ModelRegistry() { loader_.start(); }

ModelRegistry::~ModelRegistry() = default;

ModelRegistry& registry() {
    static ModelRegistry instance;
    return instance;
}

ModelRegistry::Slot* ModelRegistry::slotLocked(int slot) {
    if (slot < 0 || std::size_t(slot) >= slots_.size() || !slots_[std::size_t(slot)].model)
        return nullptr;
    return &slots_[std::size_t(slot)];
}

int ModelRegistry::create() {
    std::lock_guard lock(mutex_);
    std::size_t slot = 0;
    while (slot < slots_.size() && slots_[slot].model && (slots_[slot].inUse || slots_[slot].releaseRequested))
        ++slot;
    if (slot == slots_.size())
        slots_.emplace_back();
    Slot& s = slots_[slot];
    s = Slot{};
    s.model = std::make_unique<Model>();
    s.model->folder = baseDirectory();
    s.model->path = s.model->folder + "/" + s.model->fileName;
    s.inUse = true;
    sizeInstance(s.instance, *s.model);
    return int(slot);
}

void ModelRegistry::requestRelease(int slot) {
    std::lock_guard lock(mutex_);
    if (Slot* s = slotLocked(slot))
        s->releaseRequested = true;
}

void ModelRegistry::collect() {
    std::lock_guard lock(mutex_);
    if (!loader_.queueEmpty())
        return;
    for (Slot& s : slots_)
        if (s.model && s.inUse && s.releaseRequested)
            s = Slot{};
}

void ModelRegistry::releaseAll() {
    std::lock_guard lock(mutex_);
    slots_.clear();
}

Model* ModelRegistry::get(int slot) {
    std::lock_guard lock(mutex_);
    Slot* s = slotLocked(slot);
    return s ? s->model.get() : nullptr;
}

ModelInstance* ModelRegistry::instance(int slot) {
    std::lock_guard lock(mutex_);
    Slot* s = slotLocked(slot);
    return s ? &s->instance : nullptr;
}

int ModelRegistry::count() {
    std::lock_guard lock(mutex_);
    return int(slots_.size());
}

bool ModelRegistry::isLoaded(int slot) {
    std::lock_guard lock(mutex_);
    Slot* s = slotLocked(slot);
    return s && s->inUse && s->loaded;
}

bool PendingLoad::ready() const {
    return !result.valid() || result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

SlotLoad ModelRegistry::loadFile(LoadWork work) {
    PendingLoad pending = beginLoad(std::move(work));
    return finishLoad(pending);
}

PendingLoad ModelRegistry::beginLoad(LoadWork work) {
    PendingLoad pending;
    pending.slot = create();
    pending.result = loader_.enqueue(pending.slot, std::move(work));
    return pending;
}

SlotLoad ModelRegistry::finishLoad(PendingLoad& pending) {
    SlotLoad outcome;
    if (!pending.result.valid())
        return outcome;
    const int slot = pending.slot;
    LoadedModel result = waitFor(pending.result, slot);
    outcome.failure = std::move(result.failure);

    std::lock_guard lock(mutex_);
    Slot* s = slotLocked(slot);
    if (!s)
        return outcome;  // released meanwhile by releaseAll
    if (!result.model) {
        s->releaseRequested = true;
        return outcome;
    }
    s->model = std::move(result.model);
    s->instance = std::move(result.instance);
    s->loaded = true;
    outcome.slot = slot;
    return outcome;
}

bool ModelRegistry::copyModel(int fromSlot, int toSlot, bool reallocate) {
    if (fromSlot < 0 || toSlot < 0 || fromSlot > 255 || toSlot > 255)
        return false;
    std::lock_guard lock(mutex_);
    Slot* from = slotLocked(fromSlot);
    Slot* to = slotLocked(toSlot);
    if (!from || !to)
        return false;
    // Tables are vectors: a copy always sizes them to the source, whichever way was asked.
    (void)reallocate;
    if (from != to)
        *to->model = *from->model;
    return true;
}

}  // namespace rv
