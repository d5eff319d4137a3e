#include "app/run.h"

#include "endpoints/capture_rule.h"
#include "endpoints/render_rule.h"
#include "endpoints/walk.h"

namespace endpointfix {
namespace {

struct Pass {
    const char* root;
    const EndpointRule& rule;
};

// A rule that tells its watch around each act and otherwise is the rule it wraps.
class WatchedRule final : public EndpointRule {
public:
    WatchedRule(const EndpointRule& rule, PassId pass, RuleWatch& watch)
        : rule_(rule), pass_(pass), watch_(watch) {}
    bool test(RegistryStore& store, KeyHandle property_key) const override {
        return rule_.test(store, property_key);
    }
    void act(RegistryStore& store, KeyHandle endpoint_key, KeyHandle property_key) const override {
        watch_.acting(pass_, endpoint_key, property_key);
        rule_.act(store, endpoint_key, property_key);
        watch_.acted();
    }

private:
    const EndpointRule& rule_;
    PassId pass_;
    RuleWatch& watch_;
};

// One sequence for both runs; `walk_pass(store, root, pass, index)` walks one opened root. A
// template, so that the program's own run holds no trace of the watch.
template <typename WalkPass>
int run_passes(RegistryStore& store, WalkPass walk_pass) {
    const CaptureRule capture;
    const RenderRule render;
    const Pass passes[] = {{kCaptureRoot, capture}, {kRenderRoot, render}};
    static_assert(static_cast<std::size_t>(PassId::kRender) == 1);

    for (std::size_t i = 0; i < 2; ++i) {
        KeyHandle root;
        if (store.open(kLocalMachine, passes[i].root, root) != kSuccess) continue;
        walk_pass(store, root, passes[i], static_cast<PassId>(i));
        store.close(root);
    }
    return 0;
}

}  // namespace

int run(RegistryStore& store) {
    return run_passes(store, [](RegistryStore& s, KeyHandle root, const Pass& pass, PassId) {
        walk(s, root, pass.rule);
    });
}

int run(RegistryStore& store, RuleWatch& watch) {
    return run_passes(store,
                      [&watch](RegistryStore& s, KeyHandle root, const Pass& pass, PassId id) {
                          walk(s, root, WatchedRule(pass.rule, id, watch));
                      });
}

}  // namespace endpointfix
