#include "tests/support/RunSettings.h"

#include <gtest/gtest.h>

#include <string>

#include "config/ServerSettings.h"

namespace test {

void WriteOneRequestAtATimeSettings() {
    CServerSettings settings;
    settings.onlyNewArticles = false;
    settings.firstRunNewest = 0;
    settings.connections = 1;
    settings.pipelineDepth = 1;
    std::string error;
    ASSERT_TRUE(WriteServerSettings(settings, error)) << error;
}

}  // namespace test
