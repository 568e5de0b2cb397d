// A request to stop the service that runs on a database, as a file in the database folder
// (Pellumhost.stop) that `stop` leaves and `run` looks for every time it polls. It works the
// same on every platform and from any process, also where no signal can be sent (under Wine).
// `run` removes the request once it has stopped, which tells `stop` that it has.
#pragma once
#include <string>

namespace pellumhost {

std::string StopRequestPath(const std::string& dbFolder);
// Leaves the request (the requesting process's id in it); false with the reason in error.
bool LeaveStopRequest(const std::string& dbFolder, std::string& error);
bool StopRequested(const std::string& dbFolder);
// Removes the request; true when there was one.
bool RemoveStopRequest(const std::string& dbFolder);

}  // namespace pellumhost
