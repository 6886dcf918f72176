// SVG drawings: a cost history plot and the RRM graph.

const NS = 'http://www.w3.org/2000/svg';

function el(name, attrs, text) {
	const e = document.createElementNS(NS, name);
	for (const [k, v] of Object.entries(attrs))
		e.setAttribute(k, v);
	if (text !== undefined)
		e.textContent = text;
	return e;
}

// The channel's colour: channels of one band spread over the hue circle.
export function channelColour(channel) {
	if (!channel)
		return '#9aa4b1';
	const hue = channel <= 14 ? (channel * 47) % 360 : ((channel - 36) * 13 + 20) % 360;
	return `hsl(${hue}, 70%, 50%)`;
}

const LINE_COLOURS = ['#1f6feb', '#d9480f', '#2b8a3e', '#862e9c'];

// series: [{name, points: [{at, cost}]}], each drawn as a line over time.
export function drawCostPlot(svg, series) {
	svg.replaceChildren();
	const W = 600, H = 160, L = 40, B = 20;
	const all = series.flatMap((s) => s.points);
	if (!all.length) {
		svg.append(el('text', { x: L, y: H / 2 }, 'no cost samples yet'));
		return;
	}
	const t0 = Math.min(...all.map((p) => p.at)), t1 = Math.max(...all.map((p) => p.at));
	const top = Math.max(1, ...all.map((p) => p.cost));
	const x = (t) => L + (t1 > t0 ? ((t - t0) / (t1 - t0)) * (W - L - 10) : (W - L - 10) / 2);
	const y = (c) => H - B - (c / top) * (H - B - 10);
	svg.append(el('line', { class: 'axis', x1: L, y1: H - B, x2: W - 10, y2: H - B }));
	svg.append(el('line', { class: 'axis', x1: L, y1: 10, x2: L, y2: H - B }));
	svg.append(el('text', { x: 4, y: 16 }, String(top)), el('text', { x: 4, y: H - B }, '0'));
	series.forEach((s, i) => {
		const colour = LINE_COLOURS[i % LINE_COLOURS.length];
		const d = s.points.map((p, j) => `${j ? 'L' : 'M'}${x(p.at).toFixed(1)},${y(p.cost).toFixed(1)}`).join(' ');
		svg.append(el('path', { class: 'line', d, stroke: colour }));
		for (const p of s.points)
			svg.append(el('circle', { cx: x(p.at).toFixed(1), cy: y(p.cost).toFixed(1), r: 2.5, fill: colour }));
		svg.append(el('text', { x: L + 8 + i * 150, y: H - 4, fill: colour }, s.name));
	});
}

function signed(v) {
	return v > 0x7fffffff ? v - 0x100000000 : v;
}

// model: the RRM controller's model; nodes on a circle, each observer
// relation an edge as thick as the signal is strong, co-channel ones marked.
export function drawRrmGraph(svg, model) {
	svg.replaceChildren();
	const nodes = (model && model.ap_list) || [];
	if (!nodes.length) {
		svg.append(el('text', { x: 20, y: 30 }, 'no RRM model yet'));
		return;
	}
	const W = 600, H = 400, R = Math.min(W, H) / 2 - 50;
	const place = new Map(nodes.map((n, i) => {
		const a = (2 * Math.PI * i) / nodes.length - Math.PI / 2;
		return [n.id, { x: W / 2 + R * Math.cos(a), y: H / 2 + R * Math.sin(a), n }];
	}));
	const edges = el('g', {}), dots = el('g', {});
	for (const n of nodes) {
		for (const o of n.observers || []) {
			const a = place.get(o.id), b = place.get(n.id);
			if (!a || !b)
				continue;
			const rssi = signed(o.rssi);
			const co = a.n.channel && a.n.channel === b.n.channel;
			const line = el('line', { class: co ? 'edge co-channel' : 'edge', x1: a.x, y1: a.y, x2: b.x, y2: b.y,
						  'stroke-width': Math.max(0.5, Math.min(6, (rssi + 95) / 8)) });
			line.append(el('title', {}, `${o.id} hears ${n.id} at ${rssi} dBm`));
			edges.append(line);
		}
	}
	const small = nodes.length > 60;
	for (const { x, y, n } of place.values()) {
		const g = el('g', { class: 'node', 'data-id': n.id, 'data-channel': n.channel || '' });
		g.append(el('circle', { cx: x, cy: y, r: small ? 4 : 14, fill: channelColour(n.channel) }));
		if (!small) {
			g.append(el('text', { x, y: y + 4, 'text-anchor': 'middle' }, String(n.channel || '?')));
			g.append(el('text', { x, y: y + 28, 'text-anchor': 'middle' }, `${n.id} ${n.power ?? '?'} dBm`));
		}
		g.append(el('title', {}, `${n.id}: channel ${n.channel}, ${n.power} dBm`));
		dots.append(g);
	}
	svg.append(edges, dots);
}
