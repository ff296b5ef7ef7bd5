#pragma once

// An out-of-line call that does nothing (see bare_call.cpp).
extern "C" void bare_call(unsigned us);
