#include "service/AccountCommands.h"

#include "service/APIClient.h"
#include "service/ConfigStore.h"
#include "service/Connector.h"

namespace vanto {
namespace {

AccountStatus connected(const std::string& apiBase, const Account& account) {
    return AccountStatus{true, apiBase, account.email, account.name};
}

} // namespace

AccountCommands::AccountCommands(Seams seams) : seams_(seams) {}

AccountStatus AccountCommands::connect(const std::optional<std::string>& token,
                                       const std::optional<std::string>& apiBase, std::stop_token stop) {
    ConfigStore store(seams_.paths, seams_.environment);
    auto base = store.resolveAPIBase(apiBase);
    Config config{token.value_or(""), base};
    if (config.token.empty()) {
        Connector connector(base, connectTimeout,
                            {seams_.environment, seams_.random, seams_.clock, seams_.workspace, seams_.network});
        config = connector.run(stop);
    }
    auto account = APIClient(config, seams_.http, seams_.clock).account(stop);
    store.save(config);
    return connected(base, account);
}

AccountStatus AccountCommands::disconnect() {
    ConfigStore store(seams_.paths, seams_.environment);
    if (auto config = store.load()) {
        APIClient(*config, seams_.http, seams_.clock).revokeToken();
        seams_.mainThread.run([&] {
            seams_.defaults.set("cloudRecordingsAlwaysAllowed", false);
            store.clear();
        });
    } else {
        store.clear();
    }
    return AccountStatus{false, store.resolveAPIBase(std::nullopt), std::nullopt, std::nullopt};
}

AccountStatus AccountCommands::account(std::stop_token stop) {
    ConfigStore store(seams_.paths, seams_.environment);
    auto config = store.load();
    if (!config) return AccountStatus{false, store.resolveAPIBase(std::nullopt), std::nullopt, std::nullopt};
    auto account = APIClient(*config, seams_.http, seams_.clock).account(stop);
    return connected(config->apiBase, account);
}

} // namespace vanto
