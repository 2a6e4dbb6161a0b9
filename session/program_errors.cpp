#include "session/program_errors.h"

#include <new>
#include <ostream>

namespace {

FailureReport describeFailure(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const UsageError& error) {
    return {2, std::string("vortelline: ") + error.what()};
  } catch (const EffectFailure& error) {
    return {1, error.what()};
  } catch (const Cancelled& cancelled) {
    return {128 + cancelled.signal, "vortelline: cancelled"};
  } catch (const std::bad_alloc&) {
    return {1, "vortelline: out of memory"};
  } catch (const std::exception& error) {
    return {1, std::string("vortelline: ") + error.what()};
  } catch (...) {
    return {1, "vortelline: unknown failure"};
  }
}

}  // namespace

std::vector<FailureReport> describeFailures(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const RunFailures& failures) {
    std::vector<FailureReport> reports;
    for (const std::exception_ptr& each : failures.inOrder) {
      std::vector<FailureReport> described = describeFailures(each);
      reports.insert(reports.end(), described.begin(), described.end());
    }
    return reports;
  } catch (...) {
    return {describeFailure(failure)};
  }
}

int reportFailures(std::exception_ptr failure, std::ostream& out) {
  std::vector<FailureReport> reports = describeFailures(failure);
  for (const FailureReport& report : reports) {
    out << report.message << "\n";
  }
  return reports.empty() ? 1 : reports.front().exitStatus;
}
