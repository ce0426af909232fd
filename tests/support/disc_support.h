#pragma once
#include "core/run_context.h"
#include "disc/disc_state.h"
#include "support/test_support.h"

namespace tess::test {

// What disc code takes: a run context and the disc's state, in one object so a
// test can hand it for either.
struct DiscForm : core::RunContext, disc::DiscState {};

using DiscProject = BasicProject<DiscForm>;

}  // namespace tess::test
