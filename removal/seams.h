// Routes that only the oldest or most hostile systems take: Windows 95 has
// no delayed deletion, a copy into the system directory may be refused, a
// copy may fail to start, and the desktop's shell may not answer. A build
// for the tests (SETUP_TEST_SEAMS) lets a scenario make such a call act as
// refused; the program that ships compiles the checks away.
#pragma once

#ifdef SETUP_TEST_SEAMS
// True when the environment variable SETUP_TEST_REFUSE names this step.
int TestRefuses(const char *call);
// Where SETUP_TEST_PAUSE names this point: stands still there until the
// scenario, told by C:\e2e\<point>.paused, answers with C:\e2e\<point>.go,
// so that it can do what another program might do at that moment.
void TestPause(const char *point);
#else
inline int TestRefuses(const char *) { return 0; }
inline void TestPause(const char *) {}
#endif
