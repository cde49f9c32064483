-- SPDX-License-Identifier: GPL-3.0-or-later
-- Additions: a class on the school's PostgreSQL server.
--
-- Run once by the administrator, as a superuser, in the class database:
--     createdb additions
--     psql -d additions -f /usr/share/additions/classe.sql
-- Running it again changes nothing.
--
-- Then, for each child's computer, a role of its own in the machines' group,
-- and for each teacher a role in the teachers' group:
--     CREATE ROLE poste12 LOGIN PASSWORD '…' IN ROLE additions_machine;
--     INSERT INTO additions.machines VALUES ('poste12', 'CE1 A');
--     CREATE ROLE mme_martin LOGIN PASSWORD '…' IN ROLE additions_teacher;
--     INSERT INTO additions.teachers VALUES ('mme_martin', 'CE1 A');
--
-- No child's name ever reaches this server: a computer (the role that sent
-- the answer) and a player key ("1_joueur") only. A teacher may name
-- "poste12, joueur 1" on their own machine; the name stays there.
--
-- A computer's role may only call additions.record_answer(): it cannot read,
-- change or delete any answer, nor send one as another computer. A teacher
-- reads the answers of their own classes' computers, and may delete a
-- child's answers (a computer and a player key) on request.

BEGIN;

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'additions_machine') THEN
        CREATE ROLE additions_machine NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'additions_teacher') THEN
        CREATE ROLE additions_teacher NOLOGIN;
    END IF;
END
$$;

CREATE SCHEMA IF NOT EXISTS additions;
REVOKE ALL ON SCHEMA additions FROM PUBLIC;
GRANT USAGE ON SCHEMA additions TO additions_machine, additions_teacher;

-- The version of this schema, for the migrations to come.
CREATE TABLE IF NOT EXISTS additions.schema_version (version integer NOT NULL);
INSERT INTO additions.schema_version
    SELECT 1 WHERE NOT EXISTS (SELECT FROM additions.schema_version);

CREATE TABLE IF NOT EXISTS additions.classes (
    name text PRIMARY KEY
);

-- Each computer (its login role) belongs to one class.
CREATE TABLE IF NOT EXISTS additions.machines (
    role name PRIMARY KEY,
    class text NOT NULL REFERENCES additions.classes ON UPDATE CASCADE
);

CREATE TABLE IF NOT EXISTS additions.teachers (
    role name NOT NULL,
    class text NOT NULL REFERENCES additions.classes ON UPDATE CASCADE,
    PRIMARY KEY (role, class)
);

-- How many carries the written sum of two whole numbers makes: the addition
-- children find hardest. NULL for anything but whole numbers.
CREATE OR REPLACE FUNCTION additions.carries(a text, b text)
RETURNS integer
LANGUAGE plpgsql IMMUTABLE STRICT
SET search_path = pg_catalog, pg_temp
AS $$
DECLARE
    carry integer := 0;
    total integer := 0;
    digit_a integer;
    digit_b integer;
BEGIN
    IF a !~ '^[0-9]{1,40}$' OR b !~ '^[0-9]{1,40}$' THEN
        RETURN NULL;
    END IF;
    FOR i IN 0 .. greatest(length(a), length(b)) - 1 LOOP
        digit_a := coalesce(nullif(substr(a, length(a) - i, 1), '')::integer, 0);
        digit_b := coalesce(nullif(substr(b, length(b) - i, 1), '')::integer, 0);
        carry := CASE WHEN digit_a + digit_b + carry >= 10 THEN 1 ELSE 0 END;
        total := total + carry;
    END LOOP;
    RETURN total;
END
$$;

-- One row per answer, made on the child's computer: its id is made there, so
-- that an answer sent twice is kept once. Times are timestamptz: a plain
-- timestamp would shift by the server's time zone.
CREATE TABLE IF NOT EXISTS additions.answers (
    id uuid PRIMARY KEY,
    machine name NOT NULL,
    player text NOT NULL,
    bound integer NOT NULL,
    first_number text NOT NULL,
    second_number text NOT NULL,
    answer text NOT NULL,
    is_right boolean NOT NULL,
    stake integer NOT NULL,
    score_after text NOT NULL,
    score_kept boolean,
    answered_at timestamptz NOT NULL,
    received_at timestamptz NOT NULL DEFAULT now(),
    carries integer GENERATED ALWAYS AS (additions.carries(first_number, second_number)) STORED
);
-- A child's last answers at a level, newest first.
CREATE INDEX IF NOT EXISTS answers_by_level
    ON additions.answers (machine, player, bound, answered_at DESC);

-- What the class view shows of a child, kept as answers arrive or are erased,
-- so that it reads in a moment however many answers the server holds: per
-- computer, player, level and carries (-1: not two whole numbers).
CREATE TABLE IF NOT EXISTS additions.totals (
    machine name NOT NULL,
    player text NOT NULL,
    bound integer NOT NULL,
    carries integer NOT NULL,
    answers bigint NOT NULL,
    right_answers bigint NOT NULL,
    last_at timestamptz NOT NULL,
    PRIMARY KEY (machine, player, bound, carries)
);

-- The same totals, counted from the answers.
CREATE OR REPLACE VIEW additions.counted AS
    SELECT machine, player, bound, coalesce(carries, -1) AS carries, count(*) AS answers,
           count(*) FILTER (WHERE is_right) AS right_answers, max(answered_at) AS last_at
    FROM additions.answers GROUP BY 1, 2, 3, 4;

CREATE OR REPLACE FUNCTION additions.count_added()
RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$
BEGIN
    INSERT INTO additions.totals AS t
        SELECT machine, player, bound, coalesce(carries, -1), count(*),
               count(*) FILTER (WHERE is_right), max(answered_at)
        FROM added GROUP BY 1, 2, 3, 4
    ON CONFLICT (machine, player, bound, carries) DO UPDATE
        SET answers = t.answers + excluded.answers,
            right_answers = t.right_answers + excluded.right_answers,
            last_at = greatest(t.last_at, excluded.last_at);
    RETURN NULL;
END
$$;
REVOKE ALL ON FUNCTION additions.count_added FROM PUBLIC;

CREATE OR REPLACE FUNCTION additions.count_removed()
RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$
BEGIN
    -- An erasure removes a child's answers: their totals are counted again.
    DELETE FROM additions.totals t USING (SELECT DISTINCT machine, player FROM removed) c
        WHERE t.machine = c.machine AND t.player = c.player;
    INSERT INTO additions.totals
        SELECT * FROM additions.counted
        WHERE (machine, player) IN (SELECT machine, player FROM removed);
    -- The teachers' views follow erasures as they follow answers.
    PERFORM pg_notify('reponses', '');
    RETURN NULL;
END
$$;
REVOKE ALL ON FUNCTION additions.count_removed FROM PUBLIC;

DROP TRIGGER IF EXISTS answers_counted ON additions.answers;
CREATE TRIGGER answers_counted AFTER INSERT ON additions.answers
    REFERENCING NEW TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION additions.count_added();
DROP TRIGGER IF EXISTS answers_uncounted ON additions.answers;
CREATE TRIGGER answers_uncounted AFTER DELETE ON additions.answers
    REFERENCING OLD TABLE AS removed FOR EACH STATEMENT EXECUTE FUNCTION additions.count_removed();

-- Running this file again mends totals that went astray.
TRUNCATE additions.totals;
INSERT INTO additions.totals SELECT * FROM additions.counted;

-- Rights: nothing to anyone but through the function and the policies below.
REVOKE ALL ON ALL TABLES IN SCHEMA additions FROM PUBLIC, additions_machine, additions_teacher;
GRANT SELECT ON additions.classes, additions.machines, additions.teachers, additions.totals
    TO additions_teacher;
GRANT SELECT, DELETE ON additions.answers TO additions_teacher;

-- A teacher sees, and may delete, the answers of their own classes only.
ALTER TABLE additions.answers ENABLE ROW LEVEL SECURITY;
DROP POLICY IF EXISTS teacher_reads ON additions.answers;
CREATE POLICY teacher_reads ON additions.answers FOR SELECT TO additions_teacher
    USING (machine IN (SELECT m.role FROM additions.machines m
                       JOIN additions.teachers t ON t.class = m.class
                       WHERE t.role = current_user));
ALTER TABLE additions.totals ENABLE ROW LEVEL SECURITY;
DROP POLICY IF EXISTS teacher_reads ON additions.totals;
CREATE POLICY teacher_reads ON additions.totals FOR SELECT TO additions_teacher
    USING (machine IN (SELECT m.role FROM additions.machines m
                       JOIN additions.teachers t ON t.class = m.class
                       WHERE t.role = current_user));
DROP POLICY IF EXISTS teacher_erases ON additions.answers;
CREATE POLICY teacher_erases ON additions.answers FOR DELETE TO additions_teacher
    USING (machine IN (SELECT m.role FROM additions.machines m
                       JOIN additions.teachers t ON t.class = m.class
                       WHERE t.role = current_user));

-- The one thing a computer may do: record an answer, as itself. True when the
-- answer is new, false when the server had it already. The teachers' views
-- listening on "reponses" hear of it at once.
CREATE OR REPLACE FUNCTION additions.record_answer(
    p_id uuid, p_player text, p_bound integer, p_first text, p_second text, p_answer text,
    p_right boolean, p_stake integer, p_score text, p_kept boolean, p_when timestamptz)
RETURNS boolean
LANGUAGE plpgsql SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$
DECLARE
    added integer;
BEGIN
    -- What the game sends, and nothing a teacher's view would choke on: a
    -- player's key, and no answer from the future (a computer's clock may
    -- be far ahead: its answer counts as now).
    IF p_player !~ '^[A-Za-z0-9_]{1,40}$' THEN
        RAISE EXCEPTION 'not a player key: %', left(p_player, 40) USING ERRCODE = 'check_violation';
    END IF;
    p_when := least(p_when, now());
    INSERT INTO additions.answers (id, machine, player, bound, first_number, second_number,
                                   answer, is_right, stake, score_after, score_kept,
                                   answered_at)
    VALUES (p_id, session_user, p_player, p_bound, p_first, p_second, p_answer, p_right,
            p_stake, p_score, p_kept, p_when)
    ON CONFLICT (id) DO NOTHING;
    GET DIAGNOSTICS added = ROW_COUNT;
    IF added > 0 THEN
        PERFORM pg_notify('reponses', session_user);
    END IF;
    RETURN added > 0;
END
$$;
REVOKE ALL ON FUNCTION additions.record_answer FROM PUBLIC;
GRANT EXECUTE ON FUNCTION additions.record_answer TO additions_machine;

COMMIT;
