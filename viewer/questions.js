// The room's questions on the viewer page, below the question form: the highlighted one on top,
// then the others, newest or most upvoted first, the viewer's own marked, each with an upvote
// that the viewer can take back; answered ones folded away. The studio pushes the list on the
// command channel ("questions"); viewer.js hands it here. Classic script (see common.js).
(function () {
  'use strict';

  var VOTER_KEY = 'lumacast.voter';
  var TAG_KEY = 'lumacast.tag';
  var UPVOTED_KEY = 'lumacast.upvoted';
  var SORT_KEY = 'lumacast.questionSort';

  function stored(key) {
    try { return localStorage.getItem(key); } catch (e) { return null; }
  }
  function store(key, value) {
    try { localStorage.setItem(key, value); } catch (e) { /* private mode */ }
  }
  function randomKey() {
    var bytes = new Uint8Array(16);
    crypto.getRandomValues(bytes);
    return Array.prototype.map.call(bytes, function (b) { return ('0' + b.toString(16)).slice(-2); }).join('');
  }
  // The voter key stays with this browser and is sent only with upvotes; the tag is public and
  // marks this browser's own questions.
  function persistentKey(key) {
    var value = stored(key);
    if (!value || !/^[0-9a-f]{32}$/.test(value)) {
      value = randomKey();
      store(key, value);
    }
    return value;
  }
  var voter = persistentKey(VOTER_KEY);
  var tag = persistentKey(TAG_KEY);
  var upvoted = {};
  try { upvoted = JSON.parse(stored(UPVOTED_KEY) || '{}') || {}; } catch (e) { upvoted = {}; }

  var section = document.createElement('section');
  section.id = 'questions';
  section.hidden = true;
  section.setAttribute('aria-live', 'polite');
  section.appendChild(Lumacast.textElement('h2', '', 'Questions'));
  var highlight = document.createElement('div');
  highlight.id = 'questions-highlight';
  section.appendChild(highlight);
  var sortBar = document.createElement('div');
  sortBar.className = 'question-sort';
  var sortButtons = {};
  [['top', 'Most upvoted'], ['new', 'Newest']].forEach(function (pair) {
    var button = Lumacast.textElement('button', 'sort', pair[1]);
    button.type = 'button';
    button.dataset.sort = pair[0];
    button.addEventListener('click', function () { sortBy = pair[0]; store(SORT_KEY, sortBy); render(); });
    sortButtons[pair[0]] = button;
    sortBar.appendChild(button);
  });
  section.appendChild(sortBar);
  var list = document.createElement('ol');
  list.id = 'questions-list';
  section.appendChild(list);
  var answered = document.createElement('details');
  answered.id = 'questions-answered';
  var answeredTitle = document.createElement('summary');
  answered.appendChild(answeredTitle);
  var answeredList = document.createElement('ol');
  answered.appendChild(answeredList);
  section.appendChild(answered);
  var ask = document.getElementById('ask');
  ask.parentNode.insertBefore(section, ask.nextSibling);

  var style = document.createElement('style');
  style.textContent =
    '#questions ol { list-style: none; margin: 0; padding: 0; display: grid; gap: 8px; }' +
    '.question { display: flex; gap: 10px; align-items: flex-start; background: #232a3d; border-radius: 8px; padding: 10px; }' +
    '.question.mine { border-left: 4px solid #2d7ff9; }' +
    '.question .text { flex: 1; }' +
    '.question .who { font-size: 13px; color: #aab3c5; }' +
    '.upvote { min-width: 56px; min-height: 48px; border: 2px solid #3a4258; border-radius: 8px; background: #0f1218; color: #e8ebf1; font: 600 16px system-ui, sans-serif; cursor: pointer; }' +
    '.upvote[aria-pressed="true"] { border-color: #7ee2a8; background: #1f4a37; }' +
    '#questions-highlight .question { background: #3b2f10; border: 2px solid #f0b429; font-size: 19px; margin-bottom: 10px; }' +
    '.question-sort { display: flex; gap: 8px; margin: 0 0 10px; }' +
    '.question-sort .sort { padding: 6px 12px; border-radius: 999px; border: 1px solid #3a4258; background: transparent; color: #e8ebf1; cursor: pointer; }' +
    '.question-sort .sort[aria-pressed="true"] { background: #2d7ff9; border-color: #2d7ff9; }' +
    '#questions-answered { margin-top: 10px; color: #aab3c5; }';
  document.head.appendChild(style);

  var sortBy = stored(SORT_KEY) === 'new' ? 'new' : 'top';
  var latest = { highlight: 0, questions: [] };
  var send = function () { return false; };

  function toggleUpvote(id) {
    var up = !upvoted[id];
    if (!send(JSON.stringify({ command: 'question_upvote', id: id, voter: voter, up: up }))) return;
    if (up) upvoted[id] = 1;
    else delete upvoted[id];
    store(UPVOTED_KEY, JSON.stringify(upvoted));
    render();
  }

  function item(question, withUpvote) {
    var row = document.createElement('li');
    row.className = 'question' + (question.tag && question.tag === tag ? ' mine' : '');
    row.dataset.id = String(question.id);
    var text = document.createElement('div');
    text.className = 'text';
    text.appendChild(Lumacast.textElement('div', 'body', question.question));
    var who = String(question.name || 'Anonymous') + (question.tag && question.tag === tag ? ' · your question' : '');
    text.appendChild(Lumacast.textElement('div', 'who', who));
    var count = Number(question.upvotes) || 0;
    if (withUpvote) {
      var button = Lumacast.textElement('button', 'upvote', '▲ ' + count);
      button.type = 'button';
      button.setAttribute('aria-pressed', upvoted[question.id] ? 'true' : 'false');
      button.setAttribute('aria-label', (upvoted[question.id] ? 'Take back upvote, ' : 'Upvote, ') + count + ' upvotes');
      button.addEventListener('click', function () { toggleUpvote(question.id); });
      row.appendChild(button);
    } else {
      row.appendChild(Lumacast.textElement('span', 'upvote', '▲ ' + count));
    }
    row.appendChild(text);
    return row;
  }

  function render() {
    var questions = latest.questions;
    var open = questions.filter(function (q) { return !q.answered && q.id !== latest.highlight; });
    var done = questions.filter(function (q) { return q.answered && q.id !== latest.highlight; });
    open.sort(sortBy === 'new'
      ? function (a, b) { return b.id - a.id; }
      : function (a, b) { return (b.upvotes - a.upvotes) || (b.id - a.id); });
    done.sort(function (a, b) { return b.id - a.id; });
    var top = questions.filter(function (q) { return q.id === latest.highlight; })[0];
    highlight.replaceChildren();
    if (top) {
      highlight.appendChild(Lumacast.textElement('div', 'status', 'On screen now'));
      highlight.appendChild(item(top, !top.answered));
    }
    list.replaceChildren.apply(list, open.map(function (q) { return item(q, true); }));
    answeredList.replaceChildren.apply(answeredList, done.map(function (q) { return item(q, false); }));
    answeredTitle.textContent = 'Answered (' + done.length + ')';
    answered.hidden = done.length === 0;
    Object.keys(sortButtons).forEach(function (key) {
      sortButtons[key].setAttribute('aria-pressed', key === sortBy ? 'true' : 'false');
    });
    section.hidden = questions.length === 0;
  }

  function clean(message) {
    var questions = Array.isArray(message.questions) ? message.questions : [];
    return {
      highlight: Number(message.highlight) || 0,
      questions: questions.filter(function (q) { return q && typeof q === 'object'; }).map(function (q) {
        return { id: Number(q.id) || 0, name: typeof q.name === 'string' ? q.name : '',
                 question: typeof q.question === 'string' ? q.question : '',
                 upvotes: Number(q.upvotes) || 0, answered: q.answered === true,
                 tag: typeof q.tag === 'string' ? q.tag : '' };
      })
    };
  }

  window.LumacastQuestions = {
    // The tag sent with this browser's questions.
    tag: tag,
    // `sendText(text)` sends on the command channel and says whether it could.
    handle: function (message, sendText) {
      send = sendText;
      if (message.command !== 'questions') return;
      latest = clean(message);
      render();
    }
  };
})();
