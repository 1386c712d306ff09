#include "cli/render/module_table.h"

#include <algorithm>

#include "cli/common/cli_error.h"
#include "cli/output/charts.h"
#include "cli/render/render_settings.h"
#include "host/event_list.h"
#include "waveshaper/table_layout.h"

namespace shaperhost {

std::vector<float> readModuleTable(const ModuleLibrary& library, const std::string& moduleId,
                                   const PinText& text) {
    mphost::SharedMemoryPool pool;
    ProcessingModule module(library, pool, moduleId, kFirstInstanceHandle, 64);
    std::fill(module.input(), module.input() + module.blockSize(), 0.0f);
    mphost::EventList events;
    events.start(0).pinValue(0, 0, text);
    module.processBlock(module.blockSize(), events);
    const float* table = module.table();
    if (table == nullptr)
        return {};
    return std::vector<float>(table, table + kTableEntries);
}

std::vector<float> writeTransferPng(Session& session, const std::string& moduleId, const std::string& text,
                                    const StagedOutput& path, int size) {
    const std::vector<float> table = readModuleTable(session.library(), moduleId, pinText(text));
    if (table.size() != static_cast<std::size_t>(kTableEntries))
        throw failure("the module obtained no table from the host");
    const ModuleDescription& module = session.catalog().processingModule(moduleId);
    writeTransferChart(path, {"Transfer curve: " + module.name, module.id + ", text: " + text, table}, size);
    return table;
}

} // namespace shaperhost
