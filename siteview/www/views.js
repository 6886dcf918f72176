// The AP table and one AP's detail.
import { CallError } from './rpc.js';

const escapes = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' };
const esc = (v) => String(v ?? '').replace(/[&<>"']/g, (c) => escapes[c]);

function uptimeText(s) {
	if (s === undefined || s === null || s === '')
		return '';
	const d = Math.floor(s / 86400), h = Math.floor((s % 86400) / 3600), m = Math.floor((s % 3600) / 60);
	return d ? `${d}d ${h}h` : h ? `${h}h ${m}m` : `${m}m`;
}

// Each radio's channel and power from the RRM models: [{radio, channel, power}].
function radiosOf(id, state) {
	const out = [];
	for (const [object, model] of state.models) {
		const n = (model.ap_list || []).find((a) => a.id === id);
		if (n)
			out.push({ radio: object.split('.').slice(2).join('.'), channel: n.channel, power: n.power });
	}
	return out;
}

function telemetryOf(id, state) {
	const t = state.telemetry.get(id) || {};
	const health = (t.health && t.health.reply) || {};
	const clients = t.wireless_clients && t.wireless_clients.reply && t.wireless_clients.reply.clients;
	return { uptime: health.uptime, clients: Array.isArray(clients) ? clients.length : undefined };
}

function rowOf(ap, state) {
	const radios = radiosOf(ap.id, state);
	const t = telemetryOf(ap.id, state);
	return { ...ap, uptime: t.uptime, clients: t.clients, radios,
		 radiosText: radios.map((r) => `${r.radio}: ${r.channel ?? '?'}/${r.power ?? '?'}`).join(', ') };
}

function compare(key, desc) {
	return (a, b) => {
		const x = key === 'radios' ? a.radiosText : a[key], y = key === 'radios' ? b.radiosText : b[key];
		const r = typeof x === 'number' && typeof y === 'number' ? x - y : String(x ?? '').localeCompare(String(y ?? ''));
		return desc ? -r : r;
	};
}

function matches(row, filter) {
	if (!filter)
		return true;
	return [row.id, row.hostname, row.model, row.ip, row.state, row.fw_version, row.radiosText]
		.some((v) => String(v ?? '').toLowerCase().includes(filter));
}

// Draws the table; returns the identifiers shown, in order.
export function renderTable(state, table, telemetryRows) {
	const rows = state.aps.map((ap) => rowOf(ap, state)).filter((r) => matches(r, state.filter));
	rows.sort(compare(state.sort.key, state.sort.desc));
	for (const th of table.tHead.rows[0].cells) {
		th.classList.toggle('sorted', th.dataset.sort === state.sort.key);
		th.classList.toggle('desc', th.dataset.sort === state.sort.key && state.sort.desc);
	}
	const html = rows.map((r) => `<tr data-id="${esc(r.id)}" data-state="${esc(r.state)}">` +
		`<td class="id">${esc(r.id)}</td><td>${esc(r.hostname)}</td><td>${esc(r.model)}</td><td>${esc(r.ip)}</td>` +
		`<td>${esc(r.fw_version)}</td><td class="state state-${esc(r.state)}">${esc(r.state)}${r.online ? '' : ' (not connected)'}</td>` +
		`<td>${esc(uptimeText(r.uptime))}</td><td class="clients">${esc(r.clients)}</td>` +
		`<td class="radios">${esc(r.radiosText)}</td>` +
		`<td class="admin-only">${r.state === 'pending' ? '<button data-action="approve" class="approve">Approve</button>' : ''}</td></tr>`).join('');
	// Drawn again only when it changed, so that what the operator points at stays.
	if (table.dataset.drawn !== html) {
		table.tBodies[0].innerHTML = html;
		table.dataset.drawn = html;
	}
	return rows.map((r) => r.id).slice(0, Math.max(telemetryRows, 0));
}

function fillRows(tbody, rows) {
	tbody.innerHTML = rows.map((cells) => `<tr>${cells.map((c) => `<td>${esc(c)}</td>`).join('')}</tr>`).join('');
}

// Syslog priorities: the severity is the low three bits.
const SEVERITIES = ['emerg', 'alert', 'crit', 'err', 'warning', 'notice', 'info', 'debug'];

// A tapped list's state: the note beside its heading ('' when all is well).
function tapNote(answer) {
	if (!(answer instanceof CallError))
		return '';
	return answer.code === 8 ? '(the broker tap is off)' : `(${answer.message})`;
}

function renderLog(log) {
	const lines = log instanceof CallError ? [] : log.lines || [];
	document.querySelector('#detail-log-note').textContent = tapNote(log);
	const text = lines
		.map((l) => `${new Date(l.at * 1000).toLocaleTimeString()} ${SEVERITIES[l.priority & 7]} ${l.msg}`).join('\n');
	// Redrawn only when it changed, scrolled to the newest line.
	const pre = document.querySelector('#detail-log');
	if (pre.textContent !== text) {
		pre.textContent = text;
		pre.scrollTop = pre.scrollHeight;
	}
}

// The last commands of the RRM picture's radio, newest first.
export function renderCommands(answer) {
	document.querySelector('#rrm-commands-note').textContent = tapNote(answer);
	const list = !answer || answer instanceof CallError ? [] : answer.commands || [];
	fillRows(document.querySelector('#rrm-commands tbody'), [...list].reverse()
		.map((c) => [new Date(c.at * 1000).toLocaleTimeString(), c.ap, c.radio, c.channel ?? '', c.power ?? '']));
}

export function renderDetail(id, ap, history, telemetry, log, state) {
	document.querySelector('#detail-id').textContent = id;
	const a = ap instanceof CallError ? {} : ap;
	const radios = radiosOf(id, state).map((r) => [`radio ${r.radio}`, `channel ${r.channel ?? '?'}`, `${r.power ?? '?'} dBm`]);
	fillRows(document.querySelector('#detail-radios tbody'),
		 [['state', a.state, a.online ? 'connected' : 'not connected'], ['site', a.site, ''],
		  ['firmware', a.fw_version, a.fw_revision], ...radios]);
	const t = telemetry instanceof CallError ? {} : telemetry;
	const clients = (t.wireless_clients && t.wireless_clients.reply && t.wireless_clients.reply.clients) || [];
	fillRows(document.querySelector('#detail-clients tbody'),
		 clients.map((c) => [c.mac, c.rssi ?? c.signal ?? '', c.rate ?? c.tx_rate ?? c.rx_rate ?? '']));
	const events = history instanceof CallError ? [] : history.events || [];
	document.querySelector('#detail-history').innerHTML = events
		.map((e) => `<li>${esc(new Date(e.at * 1000).toLocaleString())} ${esc(e.kind)}: ${esc(e.detail)}</li>`).join('');
	document.querySelector('#detail-actions [data-action="approve"]').hidden = a.state !== 'pending';
	renderLog(log);
}
