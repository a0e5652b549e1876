// Help on hover for the page outside the editors: any element with a
// `data-tip` shows that text in one tooltip while the mouse is over it or it
// has the keyboard's focus. Escape hides it.

export function wireTips(root = document.body) {
  const tip = document.createElement("div");
  tip.id = "tip";
  tip.className = "tip";
  tip.setAttribute("role", "tooltip");
  tip.hidden = true;
  root.append(tip);
  let owner = null;

  function show(el) {
    owner = el;
    tip.textContent = el.dataset.tip;
    tip.hidden = false;
    el.setAttribute("aria-describedby", "tip");
    const box = el.getBoundingClientRect();
    const width = tip.offsetWidth;
    const left = Math.max(4, Math.min(box.left, document.documentElement.clientWidth - width - 4));
    const below = box.bottom + 6 + tip.offsetHeight < window.innerHeight;
    tip.style.left = `${left + window.scrollX}px`;
    tip.style.top = `${(below ? box.bottom + 6 : box.top - tip.offsetHeight - 6) + window.scrollY}px`;
  }

  function hide() {
    owner?.removeAttribute("aria-describedby");
    owner = null;
    tip.hidden = true;
  }

  const target = (e) => (e.target instanceof Element ? e.target.closest("[data-tip]") : null);
  root.addEventListener("mouseover", (e) => {
    const el = target(e);
    if (el && el !== owner) show(el);
    else if (!el && owner && document.activeElement !== owner) hide();
  });
  root.addEventListener("focusin", (e) => {
    const el = target(e);
    if (el) show(el);
  });
  root.addEventListener("focusout", (e) => {
    if (target(e) === owner) hide();
  });
  document.addEventListener("keydown", (e) => {
    if (e.key === "Escape" && owner) hide();
  });

  // Redraws the tooltip when the element under it changed its text.
  return {
    refresh() {
      if (!owner) return;
      if (owner.isConnected && owner.dataset.tip) show(owner);
      else hide();
    },
  };
}
