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

  // One result row of the vote and quiz screens: the option, its figures and a bar of `share`
  // percent.
  function barRow(option, figures, share) {
    var row = document.createElement('div');
    row.className = 'row';
    var label = document.createElement('div');
    label.className = 'label';
    label.appendChild(textElement('span', 'option', option));
    label.appendChild(textElement('span', 'figures', figures));
    var track = document.createElement('div');
    track.className = 'track';
    var bar = document.createElement('div');
    bar.className = 'bar';
    bar.style.width = share + '%';
    track.appendChild(bar);
    row.appendChild(label);
    row.appendChild(track);
    return row;
  }

  window.Lumacast = { poll: poll, textElement: textElement, barRow: barRow };
})();
