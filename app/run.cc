#include "app/run.h"

#include "endpoints/capture_rule.h"
#include "endpoints/render_rule.h"
#include "endpoints/walk.h"

namespace endpointfix {

int run(RegistryStore& store) {
    const CaptureRule capture;
    const RenderRule render;
    struct Pass {
        const char* root;
        const EndpointRule& rule;
    };
    const Pass passes[] = {{kCaptureRoot, capture}, {kRenderRoot, render}};

    for (const Pass& pass : passes) {
        KeyHandle root;
        if (store.open(kLocalMachine, pass.root, root) != kSuccess) continue;
        walk(store, root, pass.rule);
        store.close(root);
    }
    return 0;
}

}  // namespace endpointfix
