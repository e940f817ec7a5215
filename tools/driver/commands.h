// The driver's commands. Each takes the words of its line and writes the
// JSON value of an "ok" reply, or a reason for an "err" reply; the result
// says which.
#ifndef VELMORA_DRIVER_COMMANDS_H
#define VELMORA_DRIVER_COMMANDS_H

#include <string>
#include <vector>

using Words = std::vector<std::string>;

// Returns false for an unknown command (reply set to the reason).
bool runCommand(const Words &words, const std::string &restOfLine, std::string &reply, bool &ok, bool &quit);

// Window commands (window_commands.cpp).
bool cmdAttach(const Words &w, const std::string &rest, std::string &reply);
bool cmdTitle(const Words &w, const std::string &rest, std::string &reply);
bool cmdWininfo(const Words &w, const std::string &rest, std::string &reply);
bool cmdControls(const Words &w, const std::string &rest, std::string &reply);
bool cmdText(const Words &w, const std::string &rest, std::string &reply);
bool cmdCheck(const Words &w, const std::string &rest, std::string &reply);
bool cmdEnabled(const Words &w, const std::string &rest, std::string &reply);
bool cmdVisible(const Words &w, const std::string &rest, std::string &reply);
bool cmdClick(const Words &w, const std::string &rest, std::string &reply);
bool cmdCommand(const Words &w, const std::string &rest, std::string &reply);
bool cmdCombo(const Words &w, const std::string &rest, std::string &reply);
bool cmdPick(const Words &w, const std::string &rest, std::string &reply);
bool cmdTab(const Words &w, const std::string &rest, std::string &reply);
bool cmdTabsel(const Words &w, const std::string &rest, std::string &reply);
bool cmdTabs(const Words &w, const std::string &rest, std::string &reply);
bool cmdDevchange(const Words &w, const std::string &rest, std::string &reply);
bool cmdRclick(const Words &w, const std::string &rest, std::string &reply);
bool cmdLclick(const Words &w, const std::string &rest, std::string &reply);
bool cmdMinimize(const Words &w, const std::string &rest, std::string &reply);
bool cmdRestore(const Words &w, const std::string &rest, std::string &reply);
bool cmdClose(const Words &w, const std::string &rest, std::string &reply);
bool cmdWaitgone(const Words &w, const std::string &rest, std::string &reply);
bool cmdWaitexit(const Words &w, const std::string &rest, std::string &reply);
bool cmdPid(const Words &w, const std::string &rest, std::string &reply);
bool cmdProcs(const Words &w, const std::string &rest, std::string &reply);
bool cmdKill(const Words &w, const std::string &rest, std::string &reply);
bool cmdFind(const Words &w, const std::string &rest, std::string &reply);

// Boxes, dialogs, popups and menus (box_commands.cpp).
bool cmdBoxes(const Words &w, const std::string &rest, std::string &reply);
bool cmdWaitbox(const Words &w, const std::string &rest, std::string &reply);
bool cmdOk(const Words &w, const std::string &rest, std::string &reply);
bool cmdCancel(const Words &w, const std::string &rest, std::string &reply);
bool cmdDialog(const Words &w, const std::string &rest, std::string &reply);
bool cmdWaitdialog(const Words &w, const std::string &rest, std::string &reply);
bool cmdPopup(const Words &w, const std::string &rest, std::string &reply);
bool cmdPopups(const Words &w, const std::string &rest, std::string &reply);
bool cmdMenu(const Words &w, const std::string &rest, std::string &reply);
bool cmdMenuchoose(const Words &w, const std::string &rest, std::string &reply);
bool cmdMenuclose(const Words &w, const std::string &rest, std::string &reply);

// Pixels and the serial round trip (other_commands.cpp).
bool cmdPixel(const Words &w, const std::string &rest, std::string &reply);
bool cmdPixels(const Words &w, const std::string &rest, std::string &reply);
bool cmdColors(const Words &w, const std::string &rest, std::string &reply);
bool cmdSerial(const Words &w, const std::string &rest, std::string &reply);
bool cmdSleep(const Words &w, const std::string &rest, std::string &reply);

// Clock, timed waits and process figures for the benchmark (perf_commands.cpp).
bool cmdClock(const Words &w, const std::string &rest, std::string &reply);
bool cmdWaitready(const Words &w, const std::string &rest, std::string &reply);
bool cmdClicktime(const Words &w, const std::string &rest, std::string &reply);
bool cmdProcinfo(const Words &w, const std::string &rest, std::string &reply);

// Argument helpers: false (with reply set) when missing or not a number.
bool intArg(const Words &w, size_t index, long long &value, std::string &reply);
bool optIntArg(const Words &w, size_t index, long long fallback, long long &value, std::string &reply);
bool needAttached(std::string &reply);

#endif
