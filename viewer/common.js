// Helpers shared by the viewer pages. Classic script: the studio's web server declares every
// file as text/html, which browsers accept for classic scripts but not for modules.
(function () {
  'use strict';

  // Asks `url` for JSON every `intervalMs`; `onData(object)` on success, `onError()` when the
  // studio cannot be reached. A request never overlaps the previous one.
  function poll(url, intervalMs, onData, onError) {
    function next() {
      setTimeout(once, intervalMs);
    }
    function once() {
      fetch(url + (url.indexOf('?') < 0 ? '?' : '&') + 't=' + Date.now(), { cache: 'no-store' })
        .then(function (response) {
          if (!response.ok) throw new Error('status ' + response.status);
          return response.json();
        })
        .then(onData, onError)
        .then(next, next);
    }
    once();
  }

  // An element with text content only: whatever comes from the network is shown as text.
  function textElement(tag, className, text) {
    var element = document.createElement(tag);
    if (className) element.className = className;
    element.textContent = text === undefined || text === null ? '' : String(text);
    return element;
  }

  window.Lumacast = { poll: poll, textElement: textElement };
})();
