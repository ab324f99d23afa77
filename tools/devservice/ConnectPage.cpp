#include "Routes.h"

#include <cctype>

namespace vanto::devservice {
namespace {

// The page is static: the port and state are read by the script from the address, so
// nothing from the request is ever written into the markup.
constexpr const char* connectHTML = R"html(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Connect Vanto</title>
<link rel="stylesheet" href="/assets/app.css">
</head>
<body>
<main>
<h1>Connect Vanto on this computer</h1>
<p>Sign in to link the Vanto recorder on this computer to your account. It can then upload takes to your videos.</p>
<form id="signin" hidden>
<label>Email <input type="email" name="email" autocomplete="username" required></label>
<label>Password <input type="password" name="password" autocomplete="current-password" required></label>
<button type="submit">Sign in and connect</button>
</form>
<section id="signedin" hidden>
<p>Signed in as <strong id="who"></strong>.</p>
</section>
<p id="status" role="status" aria-live="polite"></p>
</main>
<script src="/assets/connect.js"></script>
</body>
</html>
)html";

constexpr const char* connectJS = R"js('use strict';
(function () {
  const params = new URLSearchParams(location.search);
  const port = params.get('cli') || '';
  const state = params.get('state') || '';
  const status = document.getElementById('status');
  const form = document.getElementById('signin');
  const signedIn = document.getElementById('signedin');
  const who = document.getElementById('who');

  function show(message, outcome) {
    status.textContent = message;
    if (outcome) document.body.dataset.outcome = outcome;
  }

  async function api(method, path, body, headers) {
    const sent = Object.assign(body ? { 'Content-Type': 'application/json' } : {}, headers || {});
    const response = await fetch(path, {
      method, credentials: 'same-origin', headers: sent, body: body ? JSON.stringify(body) : undefined,
    });
    let data = {};
    try { data = await response.json(); } catch (_) { /* an empty or foreign body */ }
    return { ok: response.ok, status: response.status, data };
  }

  async function revoke(token) {
    try {
      await api('DELETE', '/api/extension/tokens/current', null, { Authorization: 'Bearer ' + token });
    } catch (_) { /* the token simply stays unused */ }
  }

  async function connect(user) {
    form.hidden = true;
    signedIn.hidden = false;
    who.textContent = user.email || user.name || user.id;
    show('Connecting Vanto on this computer…');
    const issued = await api('POST', '/api/extension/tokens', { label: 'Vanto recorder' });
    if (!issued.ok || typeof issued.data.token !== 'string') {
      show(issued.data.error || 'The service could not issue a token.', 'failed');
      return;
    }
    const token = issued.data.token;
    let answer;
    try {
      answer = await fetch('http://127.0.0.1:' + port + '/callback', {
        method: 'POST', mode: 'cors', headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ token, state }),
      });
    } catch (_) {
      await revoke(token);
      show('Vanto is no longer waiting on this computer. Start connecting again from Vanto.', 'failed');
      return;
    }
    if (answer.ok) {
      show('Connected. You can close this tab and go back to Vanto.', 'connected');
      return;
    }
    await revoke(token);
    show(answer.status === 403
      ? 'This connect link belongs to an earlier attempt. Start connecting again from Vanto.'
      : 'Vanto did not take the sign-in (' + answer.status + '). Start connecting again from Vanto.', 'failed');
  }

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    const button = form.querySelector('button');
    button.disabled = true;
    try {
      const fields = new FormData(form);
      show('Signing in…');
      const session = await api('POST', '/api/session',
        { email: fields.get('email'), password: fields.get('password') });
      if (!session.ok) {
        show(session.data.error || 'Sign-in failed.');
        return;
      }
      await connect(session.data.user);
    } finally {
      button.disabled = false;
    }
  });

  (async function start() {
    const portNumber = Number(port);
    if (!/^[0-9]{1,5}$/.test(port) || portNumber < 1 || portNumber > 65535 || !state) {
      show('This connect link is incomplete. Start connecting again from Vanto.', 'failed');
      return;
    }
    const session = await api('GET', '/api/session');
    if (session.ok) {
      await connect(session.data.user);
    } else {
      form.hidden = false;
      form.querySelector('input').focus();
    }
  })();
})();
)js";

constexpr const char* appCSS =
    R"css(body { font: 16px/1.5 system-ui, sans-serif; margin: 0; background: #f5f5f7; color: #1d1d1f; }
main { max-width: 28rem; margin: 4rem auto; padding: 2rem; background: #fff; border-radius: 12px; }
h1 { font-size: 1.4rem; margin-top: 0; }
form { display: grid; gap: 0.8rem; }
label { display: grid; gap: 0.2rem; font-weight: 600; }
input { font: inherit; padding: 0.4rem 0.6rem; border: 1px solid #c7c7cc; border-radius: 6px; }
button { font: inherit; padding: 0.5rem; border: 0; border-radius: 6px; background: #0a66ff; color: #fff; }
button:disabled { opacity: 0.6; }
#status { min-height: 1.5em; }
body[data-outcome="failed"] #status { color: #b00020; }
body[data-outcome="connected"] #status { color: #137333; font-weight: 600; }
)css";

constexpr const char* incompleteHTML = R"html(<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>Connect Vanto</title>
<link rel="stylesheet" href="/assets/app.css"></head>
<body data-outcome="failed"><main><h1>Connect Vanto on this computer</h1>
<p id="status">This connect link is incomplete. Start connecting again from Vanto.</p></main></body></html>
)html";

bool validPort(const std::string& text) {
    if (text.empty() || text.size() > 5) return false;
    for (unsigned char c : text)
        if (!std::isdigit(c)) return false;
    auto port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

bool validState(const std::string& text) {
    if (text.empty() || text.size() > 256) return false;
    for (unsigned char c : text)
        if (!std::isalnum(c) && c != '-' && c != '_') return false;
    return true;
}

void securePage(httplib::Response& response) {
    // The callback is the only place the page may talk to beyond its own origin.
    response.set_header("Content-Security-Policy",
                        "default-src 'none'; script-src 'self'; style-src 'self'; "
                        "connect-src 'self' http://127.0.0.1:*; form-action 'none'; frame-ancestors 'none'");
    response.set_header("Referrer-Policy", "no-referrer");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Cache-Control", "no-store");
}

} // namespace

void addConnectPage(httplib::Server& server, Service& service) {
    server.Get("/connect", [&service](const httplib::Request& request, httplib::Response& response) {
        securePage(response);
        if (!validPort(request.get_param_value("cli")) || !validState(request.get_param_value("state"))) {
            response.status = 400;
            response.set_content(incompleteHTML, "text/html; charset=utf-8");
            return;
        }
        if (const auto& email = service.options().autoSignInEmail; email && !service.sessionAccount(request)) {
            if (auto account = service.store().accountByEmail(*email))
                response.set_header("Set-Cookie", sessionCookieHeader(service.openSession(account->id)));
        }
        response.set_content(connectHTML, "text/html; charset=utf-8");
    });
    server.Get("/assets/connect.js", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("X-Content-Type-Options", "nosniff");
        response.set_content(connectJS, "text/javascript; charset=utf-8");
    });
    server.Get("/assets/app.css", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("X-Content-Type-Options", "nosniff");
        response.set_content(appCSS, "text/css; charset=utf-8");
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("vanto-devservice: a local stand-in for the Vanto service. "
                             "Point VANTO_API_BASE and VANTO_APP_BASE here.\n",
                             "text/plain; charset=utf-8");
    });
}

} // namespace vanto::devservice
