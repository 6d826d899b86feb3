// Test builds (the build option HALVORYN_FAULT_POINTS) can end the process abruptly at named
// points of the engine, so that tests see what a killed run leaves behind and that the next run
// repairs it. With HV_FAULT_POINT=NAME:N in the environment, the Nth arrival at NAME kills the
// process the way SIGKILL or TerminateProcess would: no cleanup, no flush. Other builds compile
// the points to nothing.
#pragma once

namespace hv {

#ifdef HALVORYN_FAULT_POINTS
void FaultPoint(const char* name);
#else
inline void FaultPoint(const char*) {}
#endif

}  // namespace hv
