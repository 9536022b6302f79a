// Texts the plan gives the welcome page: one piece per entry to install or upgrade.
#pragma once

#define PLAN_SUMMARY_INSTALL L"安装《"
#define PLAN_SUMMARY_UPGRADE L"升级《"
#define PLAN_SUMMARY_CLOSE L"》"
