// Saves a plugin's state through lilv's state API, as a host saves a session, for the jalv test:
//   lv2_state_tool save PLUGIN_URI DIR FORMULA        formula plugins: the formula set by patch:Set
//   lv2_state_tool save PLUGIN_URI DIR SYM=VALUE...   any plugin: control values
// The state is written to DIR (manifest.ttl, state.ttl). It is then loaded from DIR into a new
// instance, which is asked for its formula with patch:Get; the answer is printed ("formula: ...").
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char* const kFormulaParameter = "http://waveshapers.example/lv2#formula";

std::map<std::string, LV2_URID> uridOf;
std::vector<std::string> uriOf = {""};

LV2_URID map(LV2_URID_Map_Handle, const char* uri) {
    auto found = uridOf.find(uri);
    if (found != uridOf.end())
        return found->second;
    uriOf.push_back(uri);
    return uridOf[uri] = static_cast<LV2_URID>(uriOf.size() - 1);
}

const char* unmap(LV2_URID_Unmap_Handle, LV2_URID urid) {
    return urid < uriOf.size() ? uriOf[urid].c_str() : nullptr;
}

LV2_URID_Map mapFeature = {nullptr, map};
LV2_URID_Unmap unmapFeature = {nullptr, unmap};
const LV2_Feature mapEntry = {LV2_URID__map, &mapFeature};
const LV2_Feature unmapEntry = {LV2_URID__unmap, &unmapFeature};
const LV2_Feature* const features[] = {&mapEntry, &unmapEntry, nullptr};

// One running instance with every port connected.
struct Instance {
    Instance(LilvWorld* world, const LilvPlugin* plugin) : plugin(plugin) {
        instance = lilv_plugin_instantiate(plugin, 48000.0, features);
        if (instance == nullptr) {
            std::fprintf(stderr, "cannot instantiate\n");
            std::exit(1);
        }
        const uint32_t ports = lilv_plugin_get_num_ports(plugin);
        values.assign(ports, 0.0f);
        std::vector<float> mins(ports), maxs(ports), defaults(ports);
        lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defaults.data());
        LilvNode* audio = lilv_new_uri(world, LV2_CORE__AudioPort);
        LilvNode* atom = lilv_new_uri(world, LV2_ATOM__AtomPort);
        LilvNode* input = lilv_new_uri(world, LV2_CORE__InputPort);
        for (uint32_t p = 0; p < ports; ++p) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
            if (lilv_port_is_a(plugin, port, audio)) {
                audioBuffers.emplace_back(64, 0.0f);
                lilv_instance_connect_port(instance, p, audioBuffers.back().data());
            } else if (lilv_port_is_a(plugin, port, atom)) {
                if (lilv_port_is_a(plugin, port, input))
                    lilv_instance_connect_port(instance, p, control);
                else
                    lilv_instance_connect_port(instance, p, notify);
            } else {
                values[p] = std::isnan(defaults[p]) ? 0.0f : defaults[p];
                lilv_instance_connect_port(instance, p, &values[p]);
            }
        }
        lilv_node_free(audio);
        lilv_node_free(atom);
        lilv_node_free(input);
        clearControl();
        lilv_instance_activate(instance);
    }
    ~Instance() {
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }

    void clearControl() {
        lv2_atom_forge_init(&forge, &mapFeature);
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(control), sizeof(control));
        lv2_atom_forge_sequence_head(&forge, &sequence, 0);
    }
    // A patch:Set of the formula, or a patch:Get when text is null.
    void sendPatch(const char* text) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge, 0);
        lv2_atom_forge_object(&forge, &object, 0, map(nullptr, text ? LV2_PATCH__Set : LV2_PATCH__Get));
        lv2_atom_forge_key(&forge, map(nullptr, LV2_PATCH__property));
        lv2_atom_forge_urid(&forge, map(nullptr, kFormulaParameter));
        if (text != nullptr) {
            lv2_atom_forge_key(&forge, map(nullptr, LV2_PATCH__value));
            lv2_atom_forge_string(&forge, text, static_cast<uint32_t>(std::strlen(text)));
        }
        lv2_atom_forge_pop(&forge, &object);
    }
    void run() {
        lv2_atom_forge_pop(&forge, &sequence);
        reinterpret_cast<LV2_Atom*>(notify)->size = sizeof(notify) - sizeof(LV2_Atom);
        reinterpret_cast<LV2_Atom*>(notify)->type = 0;
        lilv_instance_run(instance, 64);
        clearControl();
    }
    // The formula of the last patch:Set on the notify port, or "" when none came.
    std::string notifiedFormula() const {
        std::string found;
        const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(notify);
        LV2_ATOM_SEQUENCE_FOREACH(seq, event) {
            const auto* obj = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
            if (obj->body.otype != map(nullptr, LV2_PATCH__Set))
                continue;
            const LV2_Atom* value = nullptr;
            lv2_atom_object_get(obj, map(nullptr, LV2_PATCH__value), &value, 0);
            if (value != nullptr)
                found = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
        }
        return found;
    }

    const LilvPlugin* plugin;
    LilvInstance* instance = nullptr;
    std::vector<float> values;
    std::vector<std::vector<float>> audioBuffers;
    alignas(8) unsigned char control[16384] = {};
    alignas(8) unsigned char notify[16384] = {};
    LV2_Atom_Forge forge;
    LV2_Atom_Forge_Frame sequence;
};

const void* portValue(const char* symbol, void* data, uint32_t* size, uint32_t* type) {
    auto* instance = static_cast<Instance*>(data);
    LilvWorld* world = nullptr;
    (void)world;
    const uint32_t ports = lilv_plugin_get_num_ports(instance->plugin);
    for (uint32_t p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(instance->plugin, p);
        const LilvNode* sym = lilv_port_get_symbol(instance->plugin, port);
        if (std::strcmp(lilv_node_as_string(sym), symbol) == 0) {
            *size = sizeof(float);
            *type = map(nullptr, LV2_ATOM__Float);
            return &instance->values[p];
        }
    }
    *size = 0;
    *type = 0;
    return nullptr;
}

void setPortValue(const char* symbol, void* data, const void* value, uint32_t size, uint32_t type) {
    auto* instance = static_cast<Instance*>(data);
    if (size != sizeof(float) || type != map(nullptr, LV2_ATOM__Float))
        return;
    const uint32_t ports = lilv_plugin_get_num_ports(instance->plugin);
    for (uint32_t p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(instance->plugin, p);
        if (std::strcmp(lilv_node_as_string(lilv_port_get_symbol(instance->plugin, port)), symbol) == 0)
            std::memcpy(&instance->values[p], value, sizeof(float));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[1], "save") != 0) {
        std::fprintf(stderr, "usage: lv2_state_tool save PLUGIN_URI DIR [FORMULA | SYM=VALUE...]\n");
        return 2;
    }
    const std::string dir = argv[3];
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LilvNode* uri = lilv_new_uri(world, argv[2]);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    if (plugin == nullptr) {
        std::fprintf(stderr, "no plugin %s\n", argv[2]);
        return 1;
    }
    const bool formula = std::strstr(argv[2], "#formula") != nullptr;
    {
        Instance instance(world, plugin);
        for (int i = 4; i < argc; ++i) {
            const char* equals = std::strchr(argv[i], '=');
            if (formula && i == 4) {
                instance.sendPatch(argv[i]);
            } else if (equals != nullptr) {
                const std::string symbol(argv[i], static_cast<std::size_t>(equals - argv[i]));
                const float value = std::strtof(equals + 1, nullptr);
                setPortValue(symbol.c_str(), &instance, &value, sizeof(float), map(nullptr, LV2_ATOM__Float));
            }
        }
        instance.run();
        LilvState* state = lilv_state_new_from_instance(
            plugin, instance.instance, &mapFeature, nullptr, dir.c_str(), dir.c_str(), dir.c_str(), portValue,
            &instance, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features);
        if (lilv_state_save(world, &mapFeature, &unmapFeature, state, nullptr, dir.c_str(), "state.ttl") !=
            0) {
            std::fprintf(stderr, "cannot save the state\n");
            return 1;
        }
        lilv_state_free(state);
    }
    if (formula) {
        // Loaded back into a new instance, which tells its formula.
        LilvState* state =
            lilv_state_new_from_file(world, &mapFeature, nullptr, (dir + "/state.ttl").c_str());
        if (state == nullptr) {
            std::fprintf(stderr, "cannot load the saved state\n");
            return 1;
        }
        Instance instance(world, plugin);
        lilv_state_restore(state, instance.instance, setPortValue, &instance, 0, features);
        instance.sendPatch(nullptr);
        instance.run();
        std::printf("formula: %s\n", instance.notifiedFormula().c_str());
        lilv_state_free(state);
    }
    lilv_node_free(uri);
    lilv_world_free(world);
    return 0;
}
