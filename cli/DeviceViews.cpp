// The devices of the engine's table as the outputs show them (kept apart from the writers,
// which the fuzz build compiles without the browser core).
#include "browser/core/ModelLists.h"
#include "browser/core/Resources.h"
#include "cli/RecordView.h"
#include "protocol/Session.h"

namespace valdrune::cli {

namespace {
const ModelLists& BuiltInModelLists() {
    static const ModelLists lists = {LoadModelList(ModelListResource(MODEL_LIST_RESOURCE_IDS[0])),
                                     LoadModelList(ModelListResource(MODEL_LIST_RESOURCE_IDS[1])),
                                     LoadModelList(ModelListResource(MODEL_LIST_RESOURCE_IDS[2]))};
    return lists;
}
}  // namespace

std::vector<DeviceView> DeviceViews(const DeviceSession& session) {
    std::vector<DeviceView> out;
    session.Engine().ForEachDevice([&](const DeviceEntry& e) {
        DeviceView v;
        v.record = e.record;
        // The browser class the window's list gives the device.
        v.browserClass = ClassifyDevice(e.record, BuiltInModelLists());
        for (const MacAddress& mac : session.Overlapping(e.record))
            v.overlaps.push_back(MacText(mac));
        out.push_back(std::move(v));
    });
    return out;
}

}  // namespace valdrune::cli
