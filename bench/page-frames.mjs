// What the page benchmarks share: waiting, inside the page, for the animation frame that
// first shows a message.

// Resolves in the page, at the first animation frame that shows `body` among the last few
// messages, with that frame's time (performance.now()); rejects after `timeoutMs`.
export const frameShowing = (page, body, timeoutMs) => page.evaluate((b, timeout) => new Promise((resolve, reject) => {
  const end = performance.now() + timeout;
  const check = () => {
    const bodies = document.querySelectorAll('#log .msg .body');
    for (let i = bodies.length - 1; i >= Math.max(0, bodies.length - 3); i--) {
      if (bodies[i].textContent === b) return resolve(performance.now());
    }
    if (performance.now() > end) return reject(new Error(`not shown: ${b}`));
    return requestAnimationFrame(check);
  };
  requestAnimationFrame(check);
}), body, timeoutMs);
