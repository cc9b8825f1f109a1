#include "crash/handler/ReportFilters.h"

#include <algorithm>

#include "crash/box/AssistantForms.h"
#include "support/Exceptions.h"

bool ClassListContains(const std::string& list, const std::string& name) {
  const std::vector<std::string> items = SettingListItems(list, ",;|");
  return std::find(items.begin(), items.end(), name) != items.end();
}

ReportFilter ChooseFilter(const ReportSettings& settings, const std::string& className) {
  ReportFilter filter;
  std::string prefix = "Gn";
  if (ClassListContains(settings.Text("F1Classes"), className)) {
    prefix = "F1";
    filter.index = 1;
  } else if (ClassListContains(settings.Text("F2Classes"), className)) {
    prefix = "F2";
    filter.index = 2;
  }
  filter.noBugReport = settings.IsOn(prefix + "NoBugRep");
  filter.noScreenshot = settings.IsOn(prefix + "NoScrShot");
  filter.noHandlers = settings.IsOn(prefix + "NoHandlers");
  filter.noSuspend = settings.IsOn(prefix + "NoSuspend");
  filter.showConfig = static_cast<int>(settings.Number(prefix + "ShowCfg"));
  filter.assistant = settings.Text(prefix + "Assis");
  return filter;
}

bool AssistantShowsScreenshot(const ReportSettings& settings, const ReportFilter& filter) {
  const std::string wanted = filter.assistant.empty() ? settings.Text("SendAssis") : filter.assistant;
  TNVAssistant assistant;
  if (!FindAssistant(settings, wanted, &assistant)) return false;
  return std::find(assistant.pages.begin(), assistant.pages.end(), "ScrShotForm") != assistant.pages.end();
}

bool IsAbort(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return true;
  } catch (...) {
  }
  return false;
}

void DescribeException(const std::exception_ptr& error, std::string& className, std::string& message) {
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    className = e.ClassName();
    message = e.Message();
  } catch (const std::exception& e) {
    className = "std::exception";
    message = e.what();
  } catch (...) {
    className = "Exception";
    message = "unknown exception";
  }
}

std::vector<std::pair<std::string, std::string>> InnerExceptionsOf(const std::exception_ptr& error) {
  std::vector<std::pair<std::string, std::string>> inners;
  std::exception_ptr current = error;
  for (int depth = 0; current && depth < 16; ++depth) {
    std::exception_ptr inner;
    try {
      std::rethrow_exception(current);
    } catch (const std::nested_exception& nested) {
      inner = nested.nested_ptr();
    } catch (...) {
    }
    if (!inner) break;
    std::string className, message;
    DescribeException(inner, className, message);
    inners.emplace_back(className, message);
    current = inner;
  }
  return inners;
}

std::vector<std::uint64_t> FramesFromFault(const std::vector<std::uint64_t>& throwFrames, std::uint64_t fault) {
  std::vector<std::uint64_t> frames;
  if (throwFrames.empty()) return frames;
  const auto call = std::find(throwFrames.begin() + 1, throwFrames.end(), fault + 1);
  if (call == throwFrames.end()) return frames;
  frames.push_back(fault);
  frames.insert(frames.end(), call + 1, throwFrames.end());
  return frames;
}
