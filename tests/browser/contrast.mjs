// The contrast of what a page shows, measured from its computed colours with the WCAG relative
// luminance: every visible text (placeholders and generated content too) against the
// background it stands on (the element's and its ancestors' backgrounds laid over each other),
// and every enabled control's edge (its border, or its own background where that is what sets
// it apart) against what is around it.
export const MIN_TEXT_RATIO = 4.5;
export const MIN_EDGE_RATIO = 3;

// Resolves to [{ what, kind: 'text' | 'edge', ratio }] for the page as it is now.
export const measureContrast = (page) => page.evaluate(() => {
  const rgba = (css) => {
    const [r, g, b, a = 1] = css.match(/[\d.]+/g).map(Number);
    return [r, g, b, a];
  };
  const over = (top, below) => [0, 1, 2].map((i) => top[i] * top[3] + below[i] * (1 - top[3])).concat(1);
  const channel = (v) => (v / 255 <= 0.04045 ? v / 255 / 12.92 : ((v / 255 + 0.055) / 1.055) ** 2.4);
  const luminance = ([r, g, b]) => 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
  const ratio = (a, b) => {
    const [light, dark] = [luminance(a), luminance(b)].sort((x, y) => y - x);
    return Math.round(((light + 0.05) / (dark + 0.05)) * 100) / 100;
  };
  const backgroundOf = (el) => {
    const chain = [];
    for (let e = el; e; e = e.parentElement) chain.unshift(e);
    return chain.reduce((below, e) => over(rgba(getComputedStyle(e).backgroundColor), below), [255, 255, 255, 1]);
  };
  const name = (el) => el.id ? `#${el.id}` : el.tagName.toLowerCase() + [...el.classList].map((c) => `.${c}`).join('') +
    (el.parentElement.closest('.msg') ? ` in ${el.parentElement.closest('.msg').className}` : '');
  const found = new Map();
  const note = (what, kind, fg, bg) => found.set(`${what} ${kind}`, { what, kind, ratio: ratio(over(fg, bg), bg) });

  for (const el of document.querySelectorAll('body *')) {
    if (!el.checkVisibility() || el.closest('.visually-hidden')) continue;
    const style = getComputedStyle(el);
    const background = backgroundOf(el);
    const hasText = [...el.childNodes].some((n) => n.nodeType === Node.TEXT_NODE && n.textContent.trim());
    if (hasText || ((el.tagName === 'TEXTAREA' || el.tagName === 'INPUT') && el.value)) {
      note(name(el), 'text', rgba(style.color), background);
    }
    for (const pseudo of ['::before', '::after', '::placeholder']) {
      const pseudoStyle = getComputedStyle(el, pseudo);
      const shown = pseudo === '::placeholder' ? el.placeholder && !el.value : !['none', 'normal'].includes(pseudoStyle.content);
      if (shown) note(name(el) + pseudo, 'text', rgba(pseudoStyle.color), background);
    }
    if (['BUTTON', 'TEXTAREA', 'INPUT'].includes(el.tagName) && !el.disabled) {
      const around = backgroundOf(el.parentElement);
      const fill = ratio(background, around);
      const border = parseFloat(style.borderTopWidth) > 0 ? ratio(over(rgba(style.borderTopColor), around), around) : 0;
      found.set(`${name(el)} edge`, { what: name(el), kind: 'edge', ratio: Math.max(fill, border) });
    }
  }
  return [...found.values()];
});
