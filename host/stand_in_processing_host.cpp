#include "host/stand_in_processing_host.h"

#include <cstring>

namespace mphost {

namespace {

HostCall makeCall(HostCall::Kind kind, int32_t timestamp = 0, int32_t pinId = 0, int32_t value = 0) {
    HostCall call;
    call.kind = kind;
    call.timestamp = timestamp;
    call.pinId = pinId;
    call.value = value;
    return call;
}

} // namespace

void* SharedMemoryPool::obtain(const std::wstring& name, int32_t byteSize, bool* isNew) {
    *isNew = false;
    if (byteSize < 0)
        return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(byteSize);
    auto it = blocks.find(name);
    if (it != blocks.end())
        return bytes <= it->second.size() * sizeof(double) ? it->second.data() : nullptr;
    std::vector<double>& block = blocks[name];
    block.resize((bytes + sizeof(double) - 1) / sizeof(double) + 1);
    std::memset(block.data(), fill, block.size() * sizeof(double));
    *isNew = true;
    return block.data();
}

void* SharedMemoryPool::find(const std::wstring& name) const {
    auto it = blocks.find(name);
    return it == blocks.end() ? nullptr : const_cast<double*>(it->second.data());
}

ProcessingHost::ProcessingHost(SharedMemoryPool& pool, int32_t instanceHandle, int32_t blockSize)
    : instanceHandle(instanceHandle), blockSize(blockSize), pool(pool) {
    log.reserve(1024);
}

void ProcessingHost::record(HostCall call) {
    if (logging)
        log.push_back(std::move(call));
}

std::vector<HostCall> ProcessingHost::calls(HostCall::Kind kind) const {
    std::vector<HostCall> result;
    for (const HostCall& call : log) {
        if (call.kind == kind)
            result.push_back(call);
    }
    return result;
}

int32_t ProcessingHost::queryInterface(const gmpi::InterfaceId& iid, void** object) {
    record(makeCall(HostCall::kQueryInterface));
    *object = nullptr;
    if (iid == gmpi::kIidUnknown || (iid == gmpi::kIidProcessingHost && !refuseProcessingHost)) {
        *object = static_cast<gmpi::IMpProcessingHost*>(this);
        addRef();
        return gmpi::kResultOk;
    }
    return gmpi::kResultUnsupported;
}

int32_t ProcessingHost::addRef() {
    return ++refCount;
}

int32_t ProcessingHost::release() {
    return --refCount;
}

int32_t ProcessingHost::setOutputPinValue(int32_t timestamp, int32_t pinId, int32_t byteSize,
                                          const void* data) {
    HostCall call = makeCall(HostCall::kSetOutputPinValue, timestamp, pinId, byteSize);
    if (byteSize > 0)
        call.text = pinTextFromBytes(data, static_cast<std::size_t>(byteSize));
    record(std::move(call));
    return gmpi::kResultOk;
}

int32_t ProcessingHost::sendPinStreaming(int32_t timestamp, int32_t pinId, int32_t isStreaming) {
    record(makeCall(HostCall::kSendPinStreaming, timestamp, pinId, isStreaming));
    return gmpi::kResultOk;
}

int32_t ProcessingHost::requestSleep() {
    ++sleepRequests;
    record(makeCall(HostCall::kRequestSleep));
    return gmpi::kResultOk;
}

int32_t ProcessingHost::queryBlockSize(int32_t* size) {
    record(makeCall(HostCall::kQueryBlockSize, 0, 0, blockSize));
    *size = blockSize;
    return gmpi::kResultOk;
}

int32_t ProcessingHost::queryInstanceHandle(int32_t* handle) {
    record(makeCall(HostCall::kQueryInstanceHandle, 0, 0, instanceHandle));
    *handle = instanceHandle;
    return gmpi::kResultOk;
}

int32_t ProcessingHost::obtainSharedMemory(const wchar_t* name, void** memory, float sampleRate,
                                           int32_t byteSize, int32_t* needsInitialising) {
    HostCall call = makeCall(HostCall::kObtainSharedMemory, 0, 0, byteSize);
    call.name = name;
    call.sampleRate = sampleRate;
    record(std::move(call));
    bool isNew = false;
    *memory = refuseSharedMemory ? nullptr : pool.obtain(name, byteSize, &isNew);
    *needsInitialising = isNew ? 1 : 0;
    return *memory != nullptr ? gmpi::kResultOk : gmpi::kResultFailed;
}

int32_t ProcessingHost::unused(int32_t slot) {
    record(makeCall(HostCall::kUnusedSlot, 0, 0, slot));
    return gmpi::kResultOk;
}

} // namespace mphost
