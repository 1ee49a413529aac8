// The quiz a presenter plays live, on the viewer page: the question with large option buttons,
// the countdown, whether the answer was right, and the leaderboard. A nickname, kept in the
// browser, names the viewer on the leaderboard. Classic script (see common.js); viewer.js hands
// it the command messages it does not know itself.
(function () {
  'use strict';

  var NICKNAME_KEY = 'lumacast.nickname';
  var COUNTDOWN_REFRESH_MS = 250;

  var section = document.getElementById('quiz');
  var heading = document.getElementById('quiz-question');
  var countdown = document.getElementById('quiz-countdown');
  var choices = document.getElementById('quiz-choices');
  var status = document.getElementById('quiz-status');
  var boardTitle = document.getElementById('quiz-board-title');
  var board = document.getElementById('quiz-board');
  var nickname = document.getElementById('nickname');

  try { nickname.value = localStorage.getItem(NICKNAME_KEY) || ''; } catch (e) { /* private mode */ }
  nickname.addEventListener('change', function () {
    try { localStorage.setItem(NICKNAME_KEY, nickname.value.trim()); } catch (e) { /* private mode */ }
  });

  var current = null; // { number, chosen, deadline, open }
  var ticker = 0;

  function setStatus(text, kind) {
    status.textContent = text;
    status.className = 'status' + (kind ? ' ' + kind : '');
  }

  function showCountdown() {
    if (!current || !current.open) {
      clearInterval(ticker);
      return;
    }
    var left = Math.max(0, Math.ceil((current.deadline - performance.now()) / 1000));
    countdown.textContent = left + ' s';
    if (left === 0) {
      current.open = false;
      setButtonsEnabled(false);
    }
  }

  function setButtonsEnabled(enabled) {
    Array.prototype.forEach.call(choices.children, function (button) { button.disabled = !enabled; });
  }

  function question(message, send) {
    var options = Array.isArray(message.options) ? message.options : [];
    var number = Number(message.number) || 0;
    current = { number: number, chosen: 0, open: true,
                deadline: performance.now() + Math.max(0, Number(message.time_left_ms) || 0) };
    heading.textContent = 'Question ' + number + ' of ' + (Number(message.count) || number) + ': ' +
      (typeof message.title === 'string' ? message.title : '');
    choices.replaceChildren();
    options.forEach(function (option, index) {
      var button = Lumacast.textElement('button', 'choice', typeof option === 'string' ? option : '');
      button.type = 'button';
      button.setAttribute('aria-pressed', 'false');
      button.addEventListener('click', function () { answer(index + 1, button, send); });
      choices.appendChild(button);
    });
    setStatus('Tap your answer. Faster right answers score more.');
    clearInterval(ticker);
    ticker = setInterval(showCountdown, COUNTDOWN_REFRESH_MS);
    showCountdown();
    section.hidden = false;
  }

  function answer(option, button, send) {
    if (!current || !current.open) return;
    var sent = send(JSON.stringify({ command: 'quiz_answer', number: current.number, option: option,
                                     nickname: nickname.value.trim() }));
    if (!sent) {
      setStatus('Not connected, your answer was not sent. Try again in a moment.', 'error');
      return;
    }
    current.chosen = option;
    Array.prototype.forEach.call(choices.children, function (other) {
      other.setAttribute('aria-pressed', other === button ? 'true' : 'false');
    });
    setStatus('Your answer: ' + button.textContent + '. You can change it until the time is up.', 'ok');
  }

  function questionEnd(message) {
    var right = Number(message.right) || 0;
    if (!current || current.number !== Number(message.number)) current = { number: Number(message.number), chosen: 0 };
    current.open = false;
    clearInterval(ticker);
    countdown.textContent = '';
    setButtonsEnabled(false);
    var rightButton = choices.children[right - 1];
    if (rightButton) rightButton.classList.add('right');
    var rightText = rightButton ? rightButton.textContent : '';
    if (current.chosen && current.chosen === right) setStatus('Right!', 'ok');
    else if (current.chosen) setStatus('Not quite. The answer was: ' + rightText, 'error');
    else setStatus('Time is up. The answer was: ' + rightText);
    section.hidden = false;
  }

  function leaderboard(message) {
    var leaders = Array.isArray(message.leaders) ? message.leaders : [];
    boardTitle.textContent = message.final ? 'Final leaderboard' : 'Leaderboard';
    board.replaceChildren();
    leaders.forEach(function (leader) {
      if (!leader || typeof leader !== 'object') return;
      board.appendChild(Lumacast.textElement('li', '', leader.nickname + ': ' + (Number(leader.score) || 0) + ' points'));
    });
    boardTitle.hidden = board.hidden = leaders.length === 0;
    if (message.final) {
      heading.textContent = 'The quiz is over';
      choices.replaceChildren();
    }
    section.hidden = false;
  }

  window.LumacastQuiz = {
    // `send(text)` sends on the command channel and says whether it could.
    handle: function (message, send) {
      switch (message.command) {
      case 'quiz_question': question(message, send); break;
      case 'quiz_question_end': questionEnd(message); break;
      case 'quiz_leaderboard': leaderboard(message); break;
      default: break;
      }
    }
  };
})();
