// Texts the plan gives the welcome page: one piece per entry to install or upgrade.
#pragma once

#define PLAN_SUMMARY_INSTALL L"安装《"
#define PLAN_SUMMARY_UPGRADE L"升级《"
#define PLAN_SUMMARY_CLOSE L"》"

#include <cstdint>
#include <list>
#include <string>

#include "package/PlanRecords.h"

// Sets each entry's action and target against the installed dictionaries and the data folder.
// False when a new file would need the data folder and its path cannot be formed.
bool DecidePlanActions(std::list<PackageItem>& packages, const std::list<InstalledDictItem>& installed);
// The entries to install or upgrade, and their size in progress steps of one chunk each.
int CountPlanned(const std::list<PackageItem>& packages);
uint32_t ProgressTotalOf(const std::list<PackageItem>& packages);
// The welcome page's summary: one piece per entry to install or upgrade, in plan order.
void ActionSummaryOf(const std::list<PackageItem>& packages, std::wstring& summary);
