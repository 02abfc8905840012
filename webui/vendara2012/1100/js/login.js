// The maker's login helper for the marketplace login page that the Vendara
// program shows inside its web UI. The program loads this script (through
// its local script proxy, as GBK: keep this file ASCII) into the rewritten
// page and defines `loginInfo` right after it: {"auto": 0 or 1, "pwd": the
// stored password, "user": the stored account}.
//
// Once the page is read, the stored account and password are filled into the
// login form; with auto = 1 the form is sent. A page that already shows the
// marketplace's message (a refused login, a request for a verification code)
// is left to the seller, so a wrong stored password is never tried again and
// again.
(function () {
  'use strict';

  function field(name) {
    var found = document.getElementsByName(name);
    return found.length ? found[0] : null;
  }

  function send(form) {
    // A click runs the page's own submit handlers, as the seller's would.
    var button = form.querySelector('button[type="submit"], input[type="submit"]');
    if (button) {
      button.click();
    } else if (form.requestSubmit) {
      form.requestSubmit();
    } else {
      form.submit();
    }
  }

  function fill() {
    var info = window.loginInfo;
    if (!info || typeof info !== 'object') return;
    var user = field('TPL_username');
    var pwd = field('TPL_password');
    if (!user || !pwd) return;
    if (info.user && !user.value) user.value = info.user;
    if (info.pwd) pwd.value = info.pwd;
    var message = document.getElementById('J_Message');
    var refused = message && message.textContent.replace(/\s+/g, '') !== '';
    if (info.auto === 1 && !refused && user.value && pwd.value && user.form) send(user.form);
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', fill);
  } else {
    fill();
  }
})();
